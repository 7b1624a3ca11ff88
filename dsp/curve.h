#pragma once
// Correction curves: (frequency, dB) tables interpolated by a natural cubic spline.
// They correct measured levels (input), generator levels (output) and weight the
// THD+N and level analysis (the weighting filter).

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace sonvera {

/// One point of a correction curve with its spline data; fields in the stored order.
struct CurvePoint {
    double x = 0.0;       // frequency, Hz
    double y = 0.0;       // value, dB
    double M = 0.0;       // second derivative of the spline at this point
    double h = 0.0;       // interval width x(j) - x(j-1), Hz; 0 for the first point
    double lambda = 0.0;  // solver work fields of the tridiagonal system
    double r = 0.0;
    double delta = 0.0;
    double mu = 0.0;
};

/// A (frequency, dB) pair of a built-in table.
struct CurveTablePoint {
    double freqHz;
    double valueDb;
};

/// A correction curve: `InCorrection`, `OutCorrection` and `FilterCurve` are instances.
/// `points` holds `count` points (plus one spare entry, as the loader obtains count + 1).
/// A curve with count 0 or active false changes nothing when applied.
struct CorrectionCurve {
    int count = 0;
    std::string fileName;  // the file the points came from; empty for tables
    bool active = false;
    std::vector<CurvePoint> points;
};

/// Releases the points; count 0, empty name, inactive.
void ClearCurve(CorrectionCurve& curve);

/// Clears the curve and copies n pairs from a built-in table, then prepares the spline.
/// The frequencies must be finite and strictly ascending; a table that is not leaves
/// the curve empty (so it changes nothing) and returns false.
bool SetCurvePoints(CorrectionCurve& curve, const CurveTablePoint* table, int n);

/// Computes the second derivatives of the natural cubic spline through the points.
/// One point: constant curve. Two points: straight line.
void PrepareSpline(CorrectionCurve& curve);

/// Spline value at f (Hz). Outside the points the first/last interval's cubic is
/// extended. A one-point curve has its value everywhere; an empty curve gives 0.
double EvalCurve(const CorrectionCurve& curve, double f);

/// v - sign * EvalCurve(curve, f) when the curve has points and is active, else v.
double ApplyCurve(const CorrectionCurve& curve, double sign, double f, double v);

/// Receives the loader's messages; windows show them in a warning box.
struct CurveMessageSink {
    virtual ~CurveMessageSink() = default;
    virtual void Warning(const std::string& text) = 0;
};

/// The loader's four message texts in one language.
struct CurveMessages {
    std::string cannotCreate;  // default file could not be created
    std::string lineError;     // an unparsable line
    std::string noLines;       // no point in the file
    std::string readError;     // lead-in of the read failure, followed by ": " and the name
    std::string lineAt;        // between the line error and the number of the first bad line
};

/// Message texts for "D" (German) or "E" (English); nullptr for any other letter.
const CurveMessages* CurveMessagesFor(char language);

/// Parses one line of a correction file (at most 255 characters are considered).
/// Returns false for a line error; `blank` tells a blank line (not an error).
bool ParseCurveLine(const std::string& line, double& freqHz, double& valueDb, bool& blank);

/// The largest correction a curve may apply, in dB either way.
inline constexpr double kMaxCurveDb = 1000.0;

/// Strict decimal real: optional sign, digits, optional "." and fraction digits,
/// optional exponent. Rejects anything else, including values out of range.
bool ParseStrictReal(const std::string& text, double& value);

/// Loads correction files (format: one "frequency value" pair per line) into curves and
/// reports failures through a message sink in the selected language.
class CurveFileLoader {
public:
    explicit CurveFileLoader(CurveMessageSink& sink);
    virtual ~CurveFileLoader() = default;

    /// "D" German, "E" English; any other letter changes nothing. Starts German.
    void SetCurveMessages(char language);
    const CurveMessages& Messages() const { return *messages_; }

    /// The folder (with its trailing separator) where files named without a folder are
    /// looked up and created: the configuration file's. "" is the current directory.
    void SetFolder(std::string folder) { folder_ = std::move(folder); }
    /// The path a file name stands for: a name without a folder lies in SetFolder's folder.
    std::string Resolve(const std::string& fileName) const;
    /// The name to store for `path`: the bare name when the file lies directly in
    /// SetFolder's folder (so a portable folder stays portable), else the path as given.
    std::string StoredName(const std::string& path) const;

    /// Loads the file into the curve. A missing file is first created holding "1000 0".
    /// Only a regular file is read: a directory, FIFO or device gets the read failure
    /// message that names it (nothing waits on it). On success the curve holds the points,
    /// its name is the resolved path and the curve is inactive (the caller decides). On a
    /// line error, an empty file or a read failure after the first pass the curve is
    /// left empty and inactive. A line error names the number of the first bad line
    /// ("Line error in line 3"). A curve whose spline leaves +-kMaxCurveDb at a point or
    /// halfway between two (values or spacings so extreme that every level it corrected
    /// would be made up) is a line error too, naming the line of the first point where
    /// it does, or of the point that ends the interval where it does.
    bool LoadCurveFile(CorrectionCurve& curve, const std::string& fileName);

    /// As LoadCurveFile, but a file that does not exist is not created: it is reported
    /// as unreadable (a stored file name that has gone away).
    bool LoadExistingCurveFile(CorrectionCurve& curve, const std::string& fileName);

protected:
    /// Opens the file for reading; nullptr on failure, and for anything but a regular
    /// file. Overridable for fault tests.
    virtual std::FILE* OpenForReading(const std::string& fileName);

private:
    struct PassResult {
        int good = 0;
        int bad = 0;
        int firstBadLine = 0;  // 1-based, counting blank lines too
        bool ioError = false;
        std::vector<int> lines;  // the line of each good line's point
    };
    PassResult ReadPass(std::FILE* file, CorrectionCurve* fill);

    CurveMessageSink& sink_;
    const CurveMessages* messages_;
    std::string folder_;
};

}  // namespace sonvera
