#include "effects/ARCappingEffect.h"

#include <osg/CullFace>
#include <osg/Notify>
#include <osg/Program>
#include <osg/Shader>

#include <vector>

namespace Novaro
{

namespace
{

// Fixed-function clipping needs the eye-space vertex from a vertex shader.
const char* const CAPPING_VERTEX_SHADER = "#version 120\n"
                                          "void main()\n"
                                          "{\n"
                                          "    gl_ClipVertex = gl_ModelViewMatrix * gl_Vertex;\n"
                                          "    gl_Position = ftransform();\n"
                                          "}\n";

// Only the inside of a model is filled: its front faces are drawn by the second pass.
const char* const CAPPING_FRAGMENT_SHADER = "#version 120\n"
                                            "void main()\n"
                                            "{\n"
                                            "    if (gl_FrontFacing)\n"
                                            "        discard;\n"
                                            "    gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0);\n"
                                            "}\n";

// A program that says on the console why it cannot be used. The library reports a failed compile
// or link below the player's console threshold and then draws with fixed function, which would
// leave the sections unfilled without a word.
class ReportingProgram : public osg::Program
{
public:
    ReportingProgram() = default;
    ReportingProgram(const ReportingProgram& copy, const osg::CopyOp& copyop = osg::CopyOp::SHALLOW_COPY)
        : osg::Program(copy, copyop)
    {
    }
    META_StateAttribute(Novaro, ReportingProgram, PROGRAM);

    void apply(osg::State& state) const override
    {
        osg::Program::apply(state);
        const unsigned int context = state.getContextID();
        if (_checked.size() <= context)
            _checked.resize(context + 1, false);
        osg::Program::PerContextProgram* program = _checked[context] ? nullptr : getPCP(state);
        if (!program || program->needsLink())
            return;
        _checked[context] = true;
        if (!program->isLinked())
            report(state, *program);
    }

private:
    void report(osg::State& state, const osg::Program::PerContextProgram& program) const
    {
        osg::notify(osg::FATAL) << " WARNING: capping shader program \"" << getName()
                                << "\" could not be built; sections stay open." << std::endl;
        for (unsigned int index = 0; index < getNumShaders(); ++index)
        {
            const osg::Shader* shader = getShader(index);
            const osg::Shader::PerContextShader* compiled = shader->getPCS(state);
            std::string log;
            if (compiled && compiled->getInfoLog(log))
                printLog(std::string(" ") + shader->getTypename() + " shader log: ", log);
        }
        std::string log;
        if (program.getInfoLog(log))
            printLog(" link log: ", log);
    }

    // Drivers end their logs with line breaks of their own.
    static void printLog(const std::string& title, std::string log)
    {
        log.erase(log.find_last_not_of(" \n\r\t") + 1);
        if (!log.empty())
            osg::notify(osg::FATAL) << title << log << std::endl;
    }

    mutable std::vector<bool> _checked;
};

} // namespace

ARCappingEffect::ARCappingEffect() = default;

ARCappingEffect::ARCappingEffect(const ARCappingEffect& copy, const osg::CopyOp& copyop)
    : osgFX::Effect(copy, copyop)
{
}

bool ARCappingEffect::define_techniques()
{
    addTechnique(new ARCappingTechnique);
    return true;
}

void ARCappingTechnique::define_passes()
{
    osg::ref_ptr<osg::StateSet> inside = new osg::StateSet;
    // The override without "on" switches face culling off for everything below.
    inside->setAttributeAndModes(new osg::CullFace(osg::CullFace::FRONT_AND_BACK),
                                 osg::StateAttribute::OVERRIDE);
    osg::ref_ptr<osg::Program> program = new ReportingProgram;
    program->setName("capping_effect");
    program->addShader(new osg::Shader(osg::Shader::VERTEX, CAPPING_VERTEX_SHADER));
    program->addShader(new osg::Shader(osg::Shader::FRAGMENT, CAPPING_FRAGMENT_SHADER));
    inside->setAttributeAndModes(program.get(), osg::StateAttribute::ON | osg::StateAttribute::OVERRIDE);
    addPass(inside.get());

    osg::ref_ptr<osg::StateSet> content = new osg::StateSet;
    content->setAttributeAndModes(new osg::CullFace(osg::CullFace::BACK),
                                  osg::StateAttribute::ON | osg::StateAttribute::OVERRIDE);
    addPass(content.get());
}

} // namespace Novaro
