#pragma once

namespace Novaro
{

// The lighting settings file as read. Unrecognised texts are stored as 0.
class LightingData
{
public:
    LightingData() = default;

    // 0 = direct, 1 = deferred.
    int getMode() const { return mode_; }
    void setMode(int mode) { mode_ = mode; }

    // 0 = none, 1 = su, 2 = max, 3 = maya, 4 = vectorworks, 5 = scia, 6 = cinema4d.
    int getCompatibilityHint() const { return compatibility_hint_; }
    void setCompatibilityHint(int compatibilityHint) { compatibility_hint_ = compatibilityHint; }

    // 0 = sm, 1 = ssm, 2 = stsm, 3 = vdsm, 4 = sv.
    int getShadowTechnique() const { return shadow_technique_; }
    void setShadowTechnique(int shadowTechnique) { shadow_technique_ = shadowTechnique; }

private:
    int mode_ = 0;
    int compatibility_hint_ = 0;
    int shadow_technique_ = 0;
};

} // namespace Novaro
