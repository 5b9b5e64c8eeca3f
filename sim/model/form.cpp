#include "model.h"

#include <cmath>
#include <cstdint>

#include "crt.h"

ParameterForm formatParameterForm() {
    ParameterForm form;
    formatInteger(form.count, sizeof form.count, simParameters.particleCount);
    formatReal(form.gravity, sizeof form.gravity, simParameters.gravity);
    formatReal(form.density, sizeof form.density, simParameters.density);
    formatReal(form.radius, sizeof form.radius, simParameters.meanRadius);
    formatReal(form.speed, sizeof form.speed, simParameters.meanSpeed);
    formatReal(form.spread, sizeof form.spread, simParameters.speedSpread);
    formatReal(form.scale, sizeof form.scale, simParameters.drawScale);
    formatInteger(form.merge, sizeof form.merge, simParameters.mergeEnabled);
    return form;
}

void applyParameterForm(const ParameterForm& form) {
    SimulationParameters& p = simParameters;

    // Widened first: the absolute value of -2147483648 does not fit in 32 bits.
    int64_t count = crtAtoi(form.count);
    if (count < 0) count = -count;
    if (count > MAX_PARTICLE_COUNT) count = MAX_PARTICLE_COUNT;
    p.particleCount = static_cast<int32_t>(count);

    p.gravity = crtAtof(form.gravity);

    p.density = crtAtof(form.density);
    if (p.density < 0) p.density = -p.density;

    p.meanRadius = crtAtof(form.radius);
    double cap = RADIUS_CAP / p.particleCount;
    if (p.meanRadius * p.meanRadius > cap) p.meanRadius = std::sqrt(cap);
    if (p.meanRadius < 0) p.meanRadius = std::sqrt(cap);

    p.meanSpeed = crtAtof(form.speed);

    p.speedSpread = crtAtof(form.spread);
    if (p.speedSpread < 0) p.speedSpread = -p.speedSpread;

    p.drawScale = crtAtof(form.scale);
    double drawCap = DRAWN_RADIUS_CAP / p.particleCount;
    double drawn = p.drawScale * p.meanRadius;
    if (drawn * drawn > drawCap) p.drawScale = std::sqrt(drawCap) / p.meanRadius;

    p.mergeEnabled = crtAtoi(form.merge) == 1 ? 1 : 0;

    resizeAndReinitialize();
}
