// Compares two populations printed by orrelune-sim --dump, one from each system.
// Mass, radius and position must agree bit for bit: they come from Poisson draws and the 15-bit
// generator, which both systems must reproduce exactly. Velocities pass through cos, sin and log,
// which C libraries may round differently, so each component may differ by up to MAX_ULPS of
// itself, or, for a direction within 2^-26 of an axis (where the small component is all
// rounding), by up to MAX_ULPS of the particle's larger component.
// Usage: compare_dumps EXPECTED ACTUAL [MAX_ULPS]; exit 0 when they agree, 1 when not, 2 on bad input.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Record {
    long long index = 0;
    double field[6] = {};  // mass radius x y vx vy
};

const char* const FIELD_NAMES[6] = {"mass", "radius", "x", "y", "vx", "vy"};

bool readDump(const char* path, std::vector<Record>& records) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "compare_dumps: cannot read %s\n", path);
        return false;
    }
    std::string line;
    long long lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("ticks=", 0) == 0 || line.rfind("params ", 0) == 0) continue;
        Record r;
        const char* p = line.data();
        const char* end = p + line.size();
        auto result = std::from_chars(p, end, r.index);
        bool ok = result.ec == std::errc();
        for (double& value : r.field) {
            if (!ok || result.ptr == end || *result.ptr != ' ') {
                ok = false;
                break;
            }
            result = std::from_chars(result.ptr + 1, end, value);
            ok = result.ec == std::errc();
        }
        if (!ok || result.ptr != end) {
            std::fprintf(stderr, "compare_dumps: %s:%lld: not a dump record: %s\n", path, lineNumber, line.c_str());
            return false;
        }
        records.push_back(r);
    }
    return true;
}

// Distance in units in the last place, counted across zero.
uint64_t ulpDistance(double a, double b) {
    auto ordered = [](double v) {
        int64_t bits = std::bit_cast<int64_t>(v);
        return bits < 0 ? -(bits & INT64_MAX) : bits;
    };
    int64_t x = ordered(a), y = ordered(b);
    return x > y ? static_cast<uint64_t>(x - y) : static_cast<uint64_t>(y - x);
}

double ulpOf(double v) {
    v = std::fabs(v);
    return std::nextafter(v, INFINITY) - v;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: compare_dumps EXPECTED ACTUAL [MAX_ULPS]\n");
        return 2;
    }
    const uint64_t maxUlps = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 4;
    std::vector<Record> expected, actual;
    if (!readDump(argv[1], expected) || !readDump(argv[2], actual)) return 2;
    if (expected.empty()) {
        std::fprintf(stderr, "compare_dumps: %s holds no records\n", argv[1]);
        return 2;
    }
    if (expected.size() != actual.size()) {
        std::printf("FAIL: %zu records against %zu\n", expected.size(), actual.size());
        return 1;
    }

    int failures = 0;
    int exactFailures = 0;
    long long differing = 0, nearAxis = 0;
    uint64_t worstUlps = 0;
    auto fail = [&](const Record& e, const Record& a, int k, const char* why) {
        if (++failures <= 10)
            std::printf("FAIL: record %lld %s: %.17g against %.17g (%s)\n", e.index, FIELD_NAMES[k], e.field[k],
                        a.field[k], why);
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Record& e = expected[i];
        const Record& a = actual[i];
        if (e.index != a.index || e.index != static_cast<long long>(i)) {
            std::printf("FAIL: line %zu holds records %lld and %lld\n", i + 1, e.index, a.index);
            return 1;
        }
        for (int k = 0; k < 4; ++k) {
            if (std::bit_cast<uint64_t>(e.field[k]) != std::bit_cast<uint64_t>(a.field[k])) {
                ++exactFailures;
                fail(e, a, k, "not identical");
            }
        }
        const double larger = std::fmax(std::fabs(e.field[4]), std::fabs(e.field[5]));
        for (int k = 4; k < 6; ++k) {
            // Within 2^-26 of an axis, the component is rounding noise of the angle's reduction.
            const bool onAxis = std::fabs(e.field[k]) < std::ldexp(larger, -26);
            uint64_t ulps = ulpDistance(e.field[k], a.field[k]);
            if (ulps == 0) continue;
            ++differing;
            if (ulps <= maxUlps) {
                if (ulps > worstUlps) worstUlps = ulps;
            } else if (onAxis && std::fabs(e.field[k] - a.field[k]) <= static_cast<double>(maxUlps) * ulpOf(larger)) {
                ++nearAxis;
            } else {
                fail(e, a, k, "beyond the bound");
            }
        }
    }
    std::printf("%zu records: mass, radius, x, y identical%s; %lld velocity components differ, at most %llu ulps",
                expected.size(), exactFailures ? " except as listed" : "", differing,
                static_cast<unsigned long long>(worstUlps));
    std::printf(", %lld more near an axis within %llu ulps of the larger component\n", nearAxis,
                static_cast<unsigned long long>(maxUlps));
    return failures ? 1 : 0;
}
