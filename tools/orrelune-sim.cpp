// orrelune-sim: the model without a window, for batch runs, benchmarks and reproducible checks.
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "crt.h"
#include "digest.h"
#include "engine.h"
#include "options.h"
#include "picture.h"
#include "progress.h"
#include "simulation.h"

namespace {

static_assert(MAX_STEP_THREADS == 1024, "--help names the most threads (options.cpp)");

struct Options {
    ParameterForm form;
    bool haveClock = false;
    int64_t clock = 0;
    std::string loadPath;
    long long ticks = 0;
    bool params = false;
    bool dump = false;
    StepEngine engine = StepEngine::Exact;
    int32_t threads = 0;
    PictureRequest pictures;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "orrelune-sim: %s\nTry 'orrelune-sim --help'.\n", message.c_str());
    return 2;
}

template <typename T>
bool parseWhole(const char* text, T& value) {
    const char* end = text + std::strlen(text);
    auto result = std::from_chars(text, end, value);
    return result.ec == std::errc() && result.ptr == end && result.ptr != text;
}

// The text as the dialog's 64-byte read would hand it over: at most 63 bytes.
void setFormText(char (&field)[FORM_TEXT_SIZE], const char* text) {
    std::size_t length = std::strlen(text);
    if (length > FORM_TEXT_SIZE - 1) length = FORM_TEXT_SIZE - 1;
    std::memcpy(field, text, length);
    field[length] = '\0';
}

char (*formField(ParameterForm& form, std::string_view name))[FORM_TEXT_SIZE] {
    if (name == "--count") return &form.count;
    if (name == "--gravity") return &form.gravity;
    if (name == "--density") return &form.density;
    if (name == "--radius") return &form.radius;
    if (name == "--speed") return &form.speed;
    if (name == "--spread") return &form.spread;
    if (name == "--scale") return &form.scale;
    if (name == "--merge") return &form.merge;
    return nullptr;
}

// Returns -1 to go on, or the exit code.
int parseOptions(int argc, char** argv, Options& options) {
    options.form = formatParameterForm();
    for (int k = 1; k < argc; ++k) {
        std::string_view name = argv[k];
        const DriverOption* option = findDriverOption(name);
        if (option == nullptr) return usageError("unknown option '" + std::string(name) + "'");
        if (name == "--help") {
            std::fputs(driverUsage().c_str(), stdout);
            return 0;
        }
        if (name == "--version") {
            std::printf("orrelune-sim %s\n", ORRELUNE_VERSION);
            return 0;
        }
        if (name == "--params") {
            options.params = true;
            continue;
        }
        if (name == "--dump") {
            options.dump = true;
            continue;
        }
        if (name == "--png-every") {
            if (k + 2 >= argc) return usageError("option '--png-every' needs K and a PATTERN");
            if (!parseWhole(argv[k + 1], options.pictures.every) || options.pictures.every < 1)
                return usageError("--png-every needs a count of ticks, not '" + std::string(argv[k + 1]) + "'");
            std::string error;
            if (!parseFramePattern(argv[k + 2], options.pictures.frames, error))
                return usageError("--png-every: " + error);
            k += 2;
            continue;
        }
        if (k + operandCount(*option) >= argc) return usageError("option '" + std::string(name) + "' needs a value");
        char(*field)[FORM_TEXT_SIZE] = formField(options.form, name);
        const char* value = argv[++k];
        if (field != nullptr) {
            setFormText(*field, value);
        } else if (name == "--clock") {
            if (!parseWhole(value, options.clock))
                return usageError("--clock needs whole seconds, not '" + std::string(value) + "'");
            options.haveClock = true;
        } else if (name == "--ticks") {
            if (!parseWhole(value, options.ticks) || options.ticks < 0)
                return usageError("--ticks needs a count of ticks, not '" + std::string(value) + "'");
        } else if (name == "--engine") {
            if (!parseStepEngine(value, options.engine))
                return usageError("--engine needs 'exact', 'fast' or 'literal', not '" + std::string(value) + "'");
        } else if (name == "--threads") {
            if (!parseWhole(value, options.threads) || options.threads < 1 || options.threads > MAX_STEP_THREADS)
                return usageError("--threads needs a count of threads from 1 to " + std::to_string(MAX_STEP_THREADS) +
                                  ", not '" + std::string(value) + "'");
        } else if (name == "--png") {
            options.pictures.finalPath = value;
        } else if (name == "--load") {
            options.loadPath = value;
        } else {
            return usageError("option '" + std::string(name) + "' is listed but not handled");
        }
    }
    return -1;
}

bool parseRecordLine(const std::string& line, long long expectedIndex, Particle& p) {
    const char* cursor = line.data();
    const char* end = line.data() + line.size();
    long long index = 0;
    auto result = std::from_chars(cursor, end, index);
    if (result.ec != std::errc() || index != expectedIndex) return false;
    cursor = result.ptr;
    double* fields[] = {&p.mass, &p.radius, &p.x, &p.y, &p.vx, &p.vy};
    for (double* field : fields) {
        if (cursor == end || *cursor != ' ') return false;
        ++cursor;
        auto number = std::from_chars(cursor, end, *field);
        if (number.ec != std::errc()) return false;
        cursor = number.ptr;
    }
    return cursor == end;
}

// Reads every record first, so that a bad file changes nothing.
bool loadRecords(const std::string& path, std::vector<Particle>& records) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "orrelune-sim: cannot read '%s'\n", path.c_str());
        return false;
    }
    std::string line;
    long long lineNumber = 0;
    bool ok = true;
    for (;;) {
        line.clear();
        int ch = 0;
        while ((ch = std::fgetc(file)) != EOF && ch != '\n') line += static_cast<char>(ch);
        if (ch == EOF && line.empty()) break;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Particle p{};
        if (static_cast<long long>(records.size()) >= MAX_PARTICLE_COUNT) {
            std::fprintf(stderr, "orrelune-sim: %s:%lld: more than %d records\n", path.c_str(), lineNumber,
                         MAX_PARTICLE_COUNT);
            ok = false;
            break;
        }
        if (!parseRecordLine(line, static_cast<long long>(records.size()), p)) {
            std::fprintf(stderr, "orrelune-sim: %s:%lld: malformed record (want: %zu mass radius x y vx vy)\n",
                         path.c_str(), lineNumber, records.size());
            ok = false;
            break;
        }
        records.push_back(p);
        if (ch == EOF) break;
    }
    if (std::ferror(file)) {
        std::fprintf(stderr, "orrelune-sim: error reading '%s'\n", path.c_str());
        ok = false;
    }
    std::fclose(file);
    return ok;
}

// %.17g, but a NaN without its sign: which NaN a sum of the same records ends in depends on how
// the compiler ordered the operands, and the same records must always print the same line.
std::string sumText(double sum) {
    if (std::isnan(sum)) return "nan";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", sum);
    return text;
}

int pictureError(const std::string& message) {
    std::fprintf(stderr, "orrelune-sim: %s\n", message.c_str());
    return 2;
}

void printSummary(long long ticks) {
    PopulationSummary s = summarizePopulation();
    std::printf("ticks=%lld lastIndex=%d idleTicks=%d live=%d mass=%s px=%s py=%s hash=%016" PRIx64 "\n", ticks,
                simState.lastIndex, simState.idleTicks, s.live, sumText(s.mass).c_str(), sumText(s.momentumX).c_str(),
                sumText(s.momentumY).c_str(), hashPopulation());
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int exitCode = parseOptions(argc, argv, options);
    if (exitCode >= 0) return exitCode;
    if (const char* problem = randomEnvironmentProblem()) {
        std::fprintf(stderr, "orrelune-sim: %s\n", problem);
        return 2;
    }

    std::vector<Particle> loaded;
    if (!options.loadPath.empty() && !loadRecords(options.loadPath, loaded)) return 2;

    setStepEngine(options.engine);
    setStepThreads(options.threads);
    if (options.haveClock) crtFixClock(options.clock);
    applyParameterForm(options.form);
    if (!options.loadPath.empty()) installPopulation(loaded.data(), static_cast<int32_t>(loaded.size()));

    std::string error;
    if (!checkPictures(options.pictures, error) || !writeDueFrame(options.pictures, 0, error)) return pictureError(error);
    RunProgress progress(options.ticks);
    for (long long t = 1; t <= options.ticks; ++t) {
        advanceTick();
        progress.update(t);
        if (!writeDueFrame(options.pictures, t, error)) {
            progress.finish();
            return pictureError(error);
        }
    }
    progress.finish();
    if (!writeFinalPicture(options.pictures, error)) return pictureError(error);

    if (options.params) {
        ParameterForm f = formatParameterForm();
        std::printf("params count=%s gravity=%s density=%s radius=%s speed=%s spread=%s scale=%s merge=%s\n", f.count,
                    f.gravity, f.density, f.radius, f.speed, f.spread, f.scale, f.merge);
    }
    if (options.dump) {
        for (int32_t i = 0; i <= simState.lastIndex; ++i) {
            const Particle& p = simState.current[i];
            std::printf("%d %.17g %.17g %.17g %.17g %.17g %.17g\n", i, p.mass, p.radius, p.x, p.y, p.vx, p.vy);
        }
    }
    printSummary(options.ticks);
    return 0;
}
