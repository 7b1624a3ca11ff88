#include "diagram/diagramscale.h"

#include <charconv>
#include <cmath>

namespace sonvera {

const std::array<FreqTick, kFreqTickCount> FreqTickTable = {{
    {1, "1"},         {2, "2"},         {3, "3"},     {4, ""},      {5, "5"},
    {6, ""},          {7, ""},          {8, ""},      {9, ""},      {10, "10"},
    {20, "20"},       {30, "30"},       {40, ""},     {50, "50"},   {60, ""},
    {70, ""},         {80, ""},         {90, ""},     {100, "100"}, {200, "200"},
    {300, "300"},     {400, ""},        {500, "500"}, {600, ""},    {700, ""},
    {800, ""},        {900, ""},        {1000, "1k"}, {2000, "2k"}, {3000, "3k"},
    {4000, ""},       {5000, "5k"},     {6000, ""},   {7000, ""},   {8000, ""},
    {9000, ""},       {10000, "10k"},   {20000, "20k"}, {30000, "30k"}, {40000, ""},
    {50000, "50k"},   {60000, ""},      {70000, ""},  {80000, ""},  {90000, ""},
    {100000, "100k"},
}};

double NiceStep(double x)
{
    static constexpr double kLadder[] = {0.02, 0.05, 0.1,  0.2,  0.5,  1,    2,
                                         5,    10,   20,   50,   100,  200,  500,
                                         1000, 2000, 5000, 10000, 20000};
    if (!(x < 20000.0) && !std::isnan(x)) {
        return x;
    }
    for (double step : kLadder) {
        if (step > x) {
            return step;
        }
    }
    return 0.02;  // NaN: the smallest step rather than a meaningless one
}

}  // namespace sonvera
