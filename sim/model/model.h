// The model: the rules of the system and its state. Parameters, particle store, population, torus,
// the literal step, and the dialog's form rules; no platform header. Its operations are called from
// one thread; the engines above it may share a step's work among threads of their own.
#pragma once

#include <cstdint>

// Torus periods and the time advanced by one step.
inline constexpr double FIELD_WIDTH = 1000.0;
inline constexpr double FIELD_HEIGHT = 700.0;
inline constexpr double TIME_STEP = 0.01;

// A pair merges once (sum of radii) >= MERGE_RANGE_FACTOR * distance.
inline constexpr double MERGE_RANGE_FACTOR = 1.2;
// A lone survivor restarts the run after this many ticks (counted while exactly one record is left).
inline constexpr int RESTART_IDLE_TICKS = 100;

inline constexpr int MAX_PARTICLE_COUNT = 50000;
// particleCount * meanRadius^2 and particleCount * (drawScale * meanRadius)^2 stay below these.
inline constexpr double RADIUS_CAP = 22500.0;
inline constexpr double DRAWN_RADIUS_CAP = 90000.0;

// Each dialog text holds at most 63 bytes and its terminating zero.
inline constexpr int FORM_TEXT_SIZE = 64;

// The eight values the parameter dialog edits, with their compiled-in defaults.
struct SimulationParameters {
    int32_t particleCount = 500;
    double density = 5.0;
    double gravity = 20.0;
    double meanRadius = 2.0;
    double speedSpread = 50.0;
    double drawScale = 1.0;
    int32_t mergeEnabled = 1;
    double meanSpeed = 0.0;
};

// One particle; mass 0 marks a dead record (absorbed, or born with radius 0).
struct Particle {
    double mass;
    double radius;
    double x;
    double y;
    double vx;
    double vy;
};

// An owned heap table of particles; reallocation does not keep the old contents.
class ParticleBuffer {
public:
    constexpr ParticleBuffer() = default;
    ~ParticleBuffer() { release(); }
    ParticleBuffer(const ParticleBuffer&) = delete;
    ParticleBuffer& operator=(const ParticleBuffer&) = delete;

    // A new, uninitialised table of n records (any previous table is freed first).
    void allocate(int32_t n);
    // A new table sized for the current particleCount.
    void reallocate();
    // Frees the table; safe to call twice.
    void release();

    Particle& operator[](int32_t i) { return records[i]; }
    const Particle& operator[](int32_t i) const { return records[i]; }

    Particle* records = nullptr;
    int32_t count = 0;
};

// The live table, its per-step copy, the index of the last record (-1: empty) and the idle counter.
struct SimulationState {
    ParticleBuffer current;
    ParticleBuffer snapshot;
    int32_t lastIndex = -1;
    int32_t idleTicks = 0;
};

// The one process-wide parameter record and state record. Both buffers are allocated for
// particleCount records before main runs and released at exit.
extern SimulationParameters simParameters;
extern SimulationState simState;

// Replaces the population with particleCount fresh particles on a width x height field.
void initializePopulation(double width, double height);
// nullptr when GSL takes the environment's generator settings (GSL_RNG_TYPE, GSL_RNG_SEED); else a
// line naming the value it refuses and the names it knows. A front end asks before the first
// population and stops: with a refused value there is nothing to draw from.
const char* randomEnvironmentProblem();

// Folds a coordinate back onto [0, extent] by whole periods.
double wrapCoordinate(double value, double extent);
// Length of the shorter way between two coordinates on one axis.
double minimumImageOffset(double a, double b, double extent);
// +1 or -1: on which side of b the coordinate a lies, going the shorter way.
double axisPullSign(double a, double b, double extent);
// Distance between two points, the short way round on both axes.
double periodicDistance(double x1, double y1, double x2, double y2, double width, double height);

// Both buffers sized for exactly count records, which become the population (records 0..count - 1);
// particleCount follows the count and idleTicks starts again at 0.
void installPopulation(const Particle* records, int32_t count);

// The time step as the rules write it: every pair once, in table order, each formula in its written
// order of operations (snapshot, drift and wrap, gravity or merging, removal of absorbed records).
void stepSimulationLiteral(double width, double height);
// The removal pass: each dead record met going forward is replaced by the last one.
void compactParticles();

// A new population with the current parameters and buffers.
void reinitialize();
// Both buffers sized for the current particleCount, then a new population.
void resizeAndReinitialize();

// The dialog's eight texts, in the order of the form.
struct ParameterForm {
    char count[FORM_TEXT_SIZE];
    char gravity[FORM_TEXT_SIZE];
    char density[FORM_TEXT_SIZE];
    char radius[FORM_TEXT_SIZE];
    char speed[FORM_TEXT_SIZE];
    char spread[FORM_TEXT_SIZE];
    char scale[FORM_TEXT_SIZE];
    char merge[FORM_TEXT_SIZE];
};

// The current parameters as the dialog shows them.
ParameterForm formatParameterForm();
// Reads, repairs and stores the eight texts, then reallocates and redraws the population.
void applyParameterForm(const ParameterForm& form);
