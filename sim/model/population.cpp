#include "model.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gsl/gsl_errno.h>
#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>

#include "crt.h"

namespace {

constexpr double PI = 3.141592653589793;
// The direction draw spans two full turns; the distribution of angles is the same.
constexpr double DOUBLE_TURN = 12.566370614359172;

}  // namespace

const char* randomEnvironmentProblem() {
    static std::string problem;
    // GSL reads GSL_RNG_SEED with strtoul and refuses no value; GSL_RNG_TYPE must name one of its
    // generators exactly.
    const char* type = std::getenv("GSL_RNG_TYPE");
    if (type == nullptr) return nullptr;
    std::string names;
    for (const gsl_rng_type** t = gsl_rng_types_setup(); *t != nullptr; ++t) {
        if (std::strcmp(type, (*t)->name) == 0) return nullptr;
        names += names.empty() ? "" : ", ";
        names += (*t)->name;
    }
    problem = "GSL_RNG_TYPE='" + std::string(type) + "' names no GSL generator; GSL's generators are " + names;
    return problem.c_str();
}

void initializePopulation(double width, double height) {
    simState.lastIndex = simParameters.particleCount - 1;
    simState.idleTicks = 0;

    // GSL's own handler aborts on a generator name it does not know; the front ends have said
    // so already (randomEnvironmentProblem), and here it only leaves the field empty.
    gsl_error_handler_t* handler = gsl_set_error_handler_off();
    const gsl_rng_type* type = gsl_rng_env_setup();
    gsl_set_error_handler(handler);
    gsl_rng* rng = type != nullptr ? gsl_rng_alloc(gsl_rng_default) : nullptr;
    if (rng == nullptr) {
        // Without a generator there is nothing to draw from: leave an empty field.
        simState.lastIndex = -1;
        return;
    }
    // The seed is the clock truncated to 32 bits, as on Windows, whose unsigned long has 32.
    gsl_rng_set(rng, static_cast<unsigned long>(static_cast<uint32_t>(crtTime())));
    crtSrand(static_cast<uint32_t>(crtTime()));

    ParticleBuffer& current = simState.current;
    for (int32_t i = 0; i < simParameters.particleCount; ++i) {
        Particle& p = current[i];
        unsigned int k = gsl_ran_poisson(rng, simParameters.meanRadius);
        p.radius = static_cast<double>(k);
        p.mass = p.radius * simParameters.density * p.radius * PI;
        p.x = crtRand() * width / 32767.0;
        p.y = crtRand() * height / 32767.0;
        double speed = gsl_ran_gaussian(rng, simParameters.speedSpread) + simParameters.meanSpeed;
        double angle = crtRand() * DOUBLE_TURN / 32767.0;
        p.vx = std::cos(angle) * speed;
        p.vy = std::sin(angle) * speed;
    }
    gsl_rng_free(rng);
}

void reinitialize() { initializePopulation(FIELD_WIDTH, FIELD_HEIGHT); }

void resizeAndReinitialize() {
    simState.current.reallocate();
    simState.snapshot.reallocate();
    initializePopulation(FIELD_WIDTH, FIELD_HEIGHT);
}
