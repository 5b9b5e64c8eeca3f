#include "model.h"

#include <cmath>

#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>

#include "crt.h"

namespace {

constexpr double PI = 3.141592653589793;
// The direction draw spans two full turns; the distribution of angles is the same.
constexpr double DOUBLE_TURN = 12.566370614359172;

}  // namespace

void initializePopulation(double width, double height) {
    simState.lastIndex = simParameters.particleCount - 1;
    simState.idleTicks = 0;

    gsl_rng_env_setup();
    gsl_rng* rng = gsl_rng_alloc(gsl_rng_default);
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
