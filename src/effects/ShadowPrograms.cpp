#include "effects/ShadowPrograms.h"

#include "scene/TextureUnitRenaming.h"

namespace Novaro
{

namespace
{

// GLSL 1.20 keeps the fixed-function inputs (gl_Color, gl_TexCoord) that the techniques' texgen
// and the models' lighting feed, on compatibility profiles old and new.
const char* const header = "#version 120\n"
                           "uniform sampler2D osgShadow_baseTexture;\n"
                           "uniform sampler2DShadow osgShadow_shadowTexture;\n"
                           "uniform vec2 osgShadow_ambientBias;\n";

// The light reaching the fragment: the ambient part, plus the rest where the map says lit.
const char* const shade = "vec4 shade(float lit)\n"
                          "{\n"
                          "    return vec4(osgShadow_ambientBias.x + lit * osgShadow_ambientBias.y);\n"
                          "}\n";

std::string colourOutput(bool shadowOnly)
{
    const std::string colour =
        "    vec4 colour = gl_Color * texture2D(osgShadow_baseTexture, gl_TexCoord[0].xy);\n";
    if (shadowOnly)
        return colour + "    gl_FragColor = vec4(1.0, 1.0, 1.0, colour.a) * shade(lit);\n";
    return colour + "    gl_FragColor = colour * shade(lit);\n";
}

// Percentage-closer soft shadows with a jittered disc of 64 lookups: four cheap rounds first,
// and the remaining 28 only where those disagree (the penumbra).
const char* const softLookup =
    "uniform sampler3D osgShadow_jitterTexture;\n"
    "uniform float osgShadow_softnessWidth;\n"
    "uniform float osgShadow_jitteringScale;\n"
    "const int SAMPLECOUNT = 64;\n"
    "const int HALF_SAMPLECOUNT = SAMPLECOUNT / 2;\n"
    "const int FIRST_ROUNDS = 4;\n"
    "float lookUpPair(inout vec3 jitter, vec4 centre, float spread, float weight)\n"
    "{\n"
    "    vec4 offset = 2.0 * texture3D(osgShadow_jitterTexture, jitter) - 1.0;\n"
    "    jitter.z += 1.0 / float(HALF_SAMPLECOUNT);\n"
    "    vec4 first = vec4(centre.xy + offset.xy * spread, centre.zw);\n"
    "    vec4 second = vec4(centre.xy + offset.zw * spread, centre.zw);\n"
    "    return (shadow2DProj(osgShadow_shadowTexture, first).r +\n"
    "            shadow2DProj(osgShadow_shadowTexture, second).r) * weight;\n"
    "}\n"
    "float softShadow()\n"
    "{\n"
    "    vec4 centre = gl_TexCoord[1];\n"
    "    float spread = osgShadow_softnessWidth * centre.w;\n"
    "    vec3 jitter = vec3(gl_FragCoord.xy / osgShadow_jitteringScale, 0.0);\n"
    "    float firstWeight = 1.0 / float(2 * FIRST_ROUNDS);\n"
    "    float lit = 0.0;\n"
    "    for (int pass = 0; pass < FIRST_ROUNDS; ++pass)\n"
    "        lit += lookUpPair(jitter, centre, spread, firstWeight);\n"
    "    if (lit * (lit - 1.0) != 0.0)\n"
    "    {\n"
    "        lit *= firstWeight;\n"
    "        for (int pass = FIRST_ROUNDS; pass < HALF_SAMPLECOUNT; ++pass)\n"
    "            lit += lookUpPair(jitter, centre, spread, 1.0 / float(SAMPLECOUNT));\n"
    "    }\n"
    "    return lit;\n"
    "}\n";

} // namespace

std::string shadowMapProgram(bool shadowOnly)
{
    return std::string(header) + shade +
           "void main()\n"
           "{\n"
           "    float lit = shadow2DProj(osgShadow_shadowTexture, gl_TexCoord[1]).r;\n" +
           colourOutput(shadowOnly) + "}\n";
}

std::string softShadowMapProgram(bool shadowOnly)
{
    return std::string(header) + shade + softLookup +
           "void main()\n"
           "{\n"
           "    float lit = softShadow();\n" +
           colourOutput(shadowOnly) + "}\n";
}

std::string standardShadowOnlyMainProgram()
{
    return "#version 120\n"
           "float DynamicShadow();\n"
           "void main()\n"
           "{\n"
           "    gl_FragColor = vec4(vec3(0.5 + 0.5 * DynamicShadow()), gl_Color.a);\n"
           "}\n";
}

std::string viewDependentShadowOnlyProgram()
{
    return "#version 120\n"
           "uniform sampler2DShadow shadowTexture0;\n"
           "void main()\n"
           "{\n"
           "    float lit = shadow2DProj(shadowTexture0, gl_TexCoord[1]).r;\n"
           "    gl_FragColor = vec4(vec3(0.5 + 0.5 * lit), gl_Color.a);\n"
           "}\n";
}

std::string placeProgramOnUnits(const std::string& program, unsigned int baseUnit, unsigned int shadowUnit)
{
    return replaceTextureUnit(0, baseUnit, replaceTextureUnit(1, shadowUnit, program));
}

} // namespace Novaro
