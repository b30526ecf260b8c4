#pragma once

namespace Novaro
{

// The lighting settings file as read. Unrecognised texts are stored as 0.
class LightingData
{
public:
    LightingData() = default;

    // 0 = direct, 1 = deferred.
    int getMode() const { return _mode; }
    void setMode(int mode) { _mode = mode; }

    // 0 = none, 1 = su, 2 = max, 3 = maya, 4 = vectorworks, 5 = scia, 6 = cinema4d.
    int getCompatibilityHint() const { return _compatibilityHint; }
    void setCompatibilityHint(int compatibilityHint) { _compatibilityHint = compatibilityHint; }

    // 0 = sm, 1 = ssm, 2 = stsm, 3 = vdsm, 4 = sv.
    int getShadowTechnique() const { return _shadowTechnique; }
    void setShadowTechnique(int shadowTechnique) { _shadowTechnique = shadowTechnique; }

private:
    int _mode = 0;
    int _compatibilityHint = 0;
    int _shadowTechnique = 0;
};

} // namespace Novaro
