// Scanning of numbers in grid text exactly as formatted single-precision
// extraction from a classic-locale stream reads them, only much faster.
#pragma once

// True for the characters a classic-locale stream skips as whitespace:
// space, tab, line feed, vertical tab, form feed, carriage return.
inline bool IsGridSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

struct FloatScan {
    const char* next;  // first character not consumed
    bool ok;           // a value was extracted
    float value;       // the value when ok, else 0
};

// Skips leading whitespace in [p, end), then reads one number the way
// `stream >> float` does in the classic locale: an optional sign, digits with
// at most one decimal point, and an exponent ("e" or "E", optional sign,
// digits) once a digit has been seen. The characters so gathered must form a
// complete number, otherwise the scan fails ("", "-", ".", "1e", "1e+").
// The value is the correctly rounded float of the decimal text; a value beyond
// the float range fails, one below it rounds towards zero (subnormals kept).
// `next` stands behind the gathered characters (also on failure); the scan
// never reads at or beyond `end`.
FloatScan ScanFloat(const char* p, const char* end);

// ScanFloat, and also what GIS software writes for values a float does not
// hold: the words "nan", "inf" and "infinity" (any case, optional sign), and
// numbers beyond the float range, which become infinite (-1.7976931348623157e+308
// is -infinity). No-data values use it, so that "nan" and the double range's
// limits are values like any other.
FloatScan ScanFloatOrNonFinite(const char* p, const char* end);
