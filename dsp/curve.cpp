#include "dsp/curve.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <memory>
#include <system_error>

namespace sonvera {

namespace {

constexpr std::size_t kMaxLineChars = 255;
constexpr int kEndOfFileChar = 26;

const CurveMessages kGermanMessages{
    "Kann Datei nicht erzeugen",
    "Zeilenfehler",
    "Keine Zeilen in Datei",
    "Fehler beim Lesen von ",
    " in Zeile ",
};

const CurveMessages kEnglishMessages{
    "Unable to create file",
    "Line error",
    "No lines in file",
    "Error at reading of ",
    " in line ",
};

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(const std::string& s) {
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && IsBlankOrControl(s[begin])) ++begin;
    while (end > begin && IsBlankOrControl(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Skips blanks, control characters and line ends; true when the file has ended
// (end of data or the end-of-file character). Blank lines are consumed here; every line
// end passed (CR LF, LF or CR) adds one to lineEnds.
bool SeekEof(std::FILE* file, int& lineEnds) {
    for (;;) {
        const int c = std::getc(file);
        if (c == EOF || c == kEndOfFileChar) return true;
        if (c == '\n') {
            ++lineEnds;
        } else if (c == '\r') {
            const int next = std::getc(file);
            if (next != '\n') ++lineEnds;  // CR LF counts at its LF
            if (next != EOF) std::ungetc(next, file);
        } else if (c > ' ') {
            std::ungetc(c, file);
            return false;
        }
    }
}

// Reads one line (any line ending); keeps its first 255 characters. Stops before the
// end-of-file character so the next SeekEof sees it. A line end read adds one to lineEnds.
std::string ReadLine(std::FILE* file, int& lineEnds) {
    std::string line;
    for (;;) {
        const int c = std::getc(file);
        if (c == EOF) break;
        if (c == kEndOfFileChar) {
            std::ungetc(c, file);
            break;
        }
        if (c == '\n') {
            ++lineEnds;
            break;
        }
        if (c == '\r') {
            const int next = std::getc(file);
            if (next != '\n' && next != EOF) std::ungetc(next, file);
            ++lineEnds;
            break;
        }
        if (line.size() < kMaxLineChars) line.push_back(static_cast<char>(c));
    }
    return line;
}

}  // namespace

void ClearCurve(CorrectionCurve& curve) {
    curve.points.clear();
    curve.points.shrink_to_fit();
    curve.count = 0;
    curve.fileName.clear();
    curve.active = false;
}

bool SetCurvePoints(CorrectionCurve& curve, const CurveTablePoint* table, int n) {
    ClearCurve(curve);
    if (table == nullptr || n <= 0) return false;
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(table[i].freqHz) || !std::isfinite(table[i].valueDb)) return false;
        if (i > 0 && !(table[i].freqHz > table[i - 1].freqHz)) return false;
    }
    curve.points.assign(static_cast<std::size_t>(n) + 1, CurvePoint{});
    for (int i = 0; i < n; ++i) {
        curve.points[static_cast<std::size_t>(i)].x = table[i].freqHz;
        curve.points[static_cast<std::size_t>(i)].y = table[i].valueDb;
    }
    curve.count = n;
    PrepareSpline(curve);
    return true;
}

void PrepareSpline(CorrectionCurve& curve) {
    const int n = curve.count;
    if (n <= 0 || curve.points.size() < static_cast<std::size_t>(n)) return;
    CurvePoint* p = curve.points.data();  // p[0..n-1] are the points 1..n
    for (int j = 0; j < n; ++j) p[j].M = 0.0;
    p[0].h = 0.0;
    if (n == 1) return;

    bool ascending = true;
    for (int j = 1; j < n; ++j) {
        p[j].h = p[j].x - p[j - 1].x;
        if (!(p[j].h > 0.0)) ascending = false;
    }
    // A curve without strictly ascending frequencies keeps M = 0; evaluation then
    // never divides by a zero or negative interval width.
    if (!ascending || n == 2) return;

    for (int j = 1; j <= n - 2; ++j) {
        const double hj = p[j].h;
        const double hj1 = p[j + 1].h;
        p[j].lambda = hj1 / (hj + hj1);
        p[j].mu = 1.0 - p[j].lambda;
        p[j].r = 6.0 * ((p[j + 1].y - p[j].y) / hj1 - (p[j].y - p[j - 1].y) / hj) / (hj + hj1);
    }
    p[1].delta = 2.0;
    for (int j = 1; j <= n - 3; ++j) {
        const double factor = p[j + 1].mu / p[j].delta;
        p[j + 1].delta = 2.0 - p[j].lambda * factor;
        p[j + 1].r = p[j + 1].r - p[j].r * factor;
    }
    p[n - 2].M = p[n - 2].r / p[n - 2].delta;
    for (int j = n - 3; j >= 1; --j) {
        p[j].M = (p[j].r - p[j].lambda * p[j + 1].M) / p[j].delta;
    }
}

double EvalCurve(const CorrectionCurve& curve, double f) {
    const int n = curve.count;
    if (n <= 0 || curve.points.size() < static_cast<std::size_t>(n)) return 0.0;
    const CurvePoint* p = curve.points.data();
    if (n == 1) return p[0].y;

    int lo = 0;
    int hi = n - 1;
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        if (p[mid].x <= f) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    const int b = lo;
    const double h = p[b + 1].h;
    if (!(h > 0.0)) return p[b].y;
    const double t = f - p[b].x;
    return p[b].y + t * ((p[b + 1].y - p[b].y) / h - h * (2.0 * p[b].M + p[b + 1].M) / 6.0) +
           t * t * p[b].M / 2.0 + t * t * t * (p[b + 1].M - p[b].M) / (6.0 * h);
}

double ApplyCurve(const CorrectionCurve& curve, double sign, double f, double v) {
    if (curve.count != 0 && curve.active) return v - sign * EvalCurve(curve, f);
    return v;
}

const CurveMessages* CurveMessagesFor(char language) {
    if (language == 'D') return &kGermanMessages;
    if (language == 'E') return &kEnglishMessages;
    return nullptr;
}

bool ParseStrictReal(const std::string& text, double& value) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t digitsBegin = i;
    while (i < n && IsDigit(text[i])) ++i;
    if (i == digitsBegin) return false;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && IsDigit(text[i])) ++i;
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        const std::size_t expBegin = i;
        while (i < n && IsDigit(text[i])) ++i;
        if (i == expBegin) return false;
    }
    if (i != n) return false;

    // from_chars takes no leading '+'; it is locale-independent.
    const char* first = text.data();
    if (*first == '+') ++first;
    double parsed = 0.0;
    const auto [ptr, ec] = std::from_chars(first, text.data() + n, parsed);
    if (ec != std::errc() || ptr != text.data() + n || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

bool ParseCurveLine(const std::string& line, double& freqHz, double& valueDb, bool& blank) {
    const std::string trimmed = Trim(line.substr(0, std::min(line.size(), kMaxLineChars)));
    blank = trimmed.empty();
    if (blank) return false;
    const std::size_t space = trimmed.find(' ');
    if (space == std::string::npos) return false;
    const std::string freqText = trimmed.substr(0, space);
    const std::string valueText = Trim(trimmed.substr(space + 1));
    double f = 0.0;
    double v = 0.0;
    if (!ParseStrictReal(freqText, f) || !ParseStrictReal(valueText, v)) return false;
    freqHz = f;
    valueDb = v;
    return true;
}

CurveFileLoader::CurveFileLoader(CurveMessageSink& sink)
    : sink_(sink), messages_(&kGermanMessages) {}

void CurveFileLoader::SetCurveMessages(char language) {
    if (const CurveMessages* m = CurveMessagesFor(language)) messages_ = m;
}

std::string CurveFileLoader::Resolve(const std::string& fileName) const {
    if (fileName.empty() || fileName.find('/') != std::string::npos) return fileName;
    return folder_ + fileName;
}

std::string CurveFileLoader::StoredName(const std::string& path) const {
    if (folder_.empty() || path.size() <= folder_.size() || path.compare(0, folder_.size(), folder_) != 0) {
        return path;
    }
    const std::string name = path.substr(folder_.size());
    return name.find('/') == std::string::npos ? name : path;
}

std::FILE* CurveFileLoader::OpenForReading(const std::string& fileName) {
    // Opened without waiting, so that a FIFO or a device cannot hold the program up,
    // and refused unless it is a regular file.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) ::close(fd);
    return file;
}

CurveFileLoader::PassResult CurveFileLoader::ReadPass(std::FILE* file, CorrectionCurve* fill) {
    PassResult result;
    double previousFreq = 0.0;
    int lineEnds = 0;
    const auto bad = [&result](int lineNumber) {
        if (result.bad++ == 0) result.firstBadLine = lineNumber;
    };
    while (!SeekEof(file, lineEnds)) {
        const int lineNumber = lineEnds + 1;
        const std::string line = ReadLine(file, lineEnds);
        double f = 0.0;
        double v = 0.0;
        bool blank = false;
        if (!ParseCurveLine(line, f, v, blank)) {
            if (!blank) bad(lineNumber);
            continue;
        }
        // The spline needs strictly ascending frequencies: a line that does not
        // ascend is a line error like an unparsable one.
        if (result.good > 0 && !(f > previousFreq)) {
            bad(lineNumber);
            continue;
        }
        previousFreq = f;
        if (fill != nullptr && result.good < fill->count) {
            CurvePoint& p = fill->points[static_cast<std::size_t>(result.good)];
            p = CurvePoint{};
            p.x = f;
            p.y = v;
        }
        result.lines.push_back(lineNumber);
        ++result.good;
    }
    result.ioError = std::ferror(file) != 0;
    return result;
}

namespace {
bool WithinCurveLimit(double valueDb) {
    return std::fabs(valueDb) <= kMaxCurveDb;  // false for NaN and infinity too
}

// The index of the first point whose value leaves the limit or whose second derivative
// overflowed, else of the point that ends the first interval halfway along which the
// prepared spline leaves it; -1 when it never does.
int FirstPointBeyondLimit(const CorrectionCurve& curve) {
    for (int i = 0; i < curve.count; ++i) {
        const CurvePoint& p = curve.points[static_cast<std::size_t>(i)];
        if (!WithinCurveLimit(p.y) || !std::isfinite(p.M)) return i;
    }
    for (int i = 0; i + 1 < curve.count; ++i) {
        const double x = curve.points[static_cast<std::size_t>(i)].x;
        const double next = curve.points[static_cast<std::size_t>(i) + 1].x;
        if (!WithinCurveLimit(EvalCurve(curve, x + (next - x) / 2.0))) return i + 1;
    }
    return -1;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;
}  // namespace

bool CurveFileLoader::LoadExistingCurveFile(CorrectionCurve& curve, const std::string& givenName) {
    const std::string fileName = Resolve(givenName);
    std::error_code ec;
    if (!std::filesystem::exists(fileName, ec) && !ec) {
        sink_.Warning(messages_->readError + ": " + fileName);
        return false;
    }
    return LoadCurveFile(curve, fileName);
}

bool CurveFileLoader::LoadCurveFile(CorrectionCurve& curve, const std::string& givenName) {
    if (givenName.empty()) return false;
    const std::string fileName = Resolve(givenName);

    FileHandle file(OpenForReading(fileName));
    if (file == nullptr) {
        std::error_code ec;
        const bool exists = std::filesystem::exists(fileName, ec) || ec;
        if (exists) {
            // Never overwrite a file that exists but cannot be read.
            sink_.Warning(messages_->readError + ": " + fileName);
            return false;
        }
        std::FILE* created = std::fopen(fileName.c_str(), "wx");
        bool written = created != nullptr;
        if (created != nullptr) {
            written = std::fputs("1000 0\n", created) >= 0;
            written = (std::fclose(created) == 0) && written;
            if (!written) {
                // A full disk: no empty or half-written default file is left behind.
                std::remove(fileName.c_str());
            }
        }
        if (written) file.reset(OpenForReading(fileName));
        if (file == nullptr) {
            sink_.Warning(messages_->cannotCreate);
            return false;
        }
    }

    ClearCurve(curve);
    const PassResult first = ReadPass(file.get(), nullptr);
    file.reset();
    if (first.ioError) {
        sink_.Warning(messages_->readError + ": " + fileName);
        return false;
    }
    if (first.bad > 0) {
        // The first bad line is named, so it can be found and repaired.
        sink_.Warning(messages_->lineError + messages_->lineAt + std::to_string(first.firstBadLine));
        return false;
    }
    if (first.good == 0) {
        sink_.Warning(messages_->noLines);
        return false;
    }

    std::vector<CurvePoint> storage(static_cast<std::size_t>(first.good) + 1);
    CorrectionCurve loaded;
    loaded.count = first.good;
    loaded.points = std::move(storage);
    loaded.fileName = fileName;

    file.reset(OpenForReading(fileName));
    if (file == nullptr) {
        // The curve stays empty and inactive: nothing half-filled is ever applied.
        sink_.Warning(messages_->readError + ": " + fileName);
        return false;
    }
    const PassResult second = ReadPass(file.get(), &loaded);
    file.reset();
    if (second.ioError || second.bad > 0 || second.good != first.good) {
        // The file changed between the passes; keep nothing of it.
        sink_.Warning(messages_->readError + ": " + fileName);
        return false;
    }
    PrepareSpline(loaded);
    if (const int beyond = FirstPointBeyondLimit(loaded); beyond >= 0) {
        // Values or spacings so extreme that the spline leaves any sensible correction
        // (or overflows) would make up every level the curve corrects: refused like an
        // unparsable line, naming the line where it starts.
        sink_.Warning(messages_->lineError + messages_->lineAt +
                      std::to_string(second.lines[static_cast<std::size_t>(beyond)]));
        return false;
    }
    curve = std::move(loaded);
    return true;
}

}  // namespace sonvera
