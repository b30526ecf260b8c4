#include "effects/BackgroundPlane.h"

#include <osg/BlendFunc>
#include <osg/Geometry>

namespace Novaro
{

BackgroundPlane::BackgroundPlane()
{
    osg::StateSet* stateSet = getOrCreateStateSet();
    // Blending with the fragment's alpha, so that alpha 0 leaves what is behind untouched.
    stateSet->setAttributeAndModes(
        new osg::BlendFunc(osg::BlendFunc::SRC_ALPHA, osg::BlendFunc::ONE_MINUS_SRC_ALPHA),
        osg::StateAttribute::ON);
    stateSet->setRenderingHint(osg::StateSet::TRANSPARENT_BIN);
    rebuild();
}

void BackgroundPlane::setSize(float width, float height)
{
    _width = width;
    _height = height;
    rebuild();
}

void BackgroundPlane::setAlpha(float alpha)
{
    _alpha = alpha;
    rebuild();
}

void BackgroundPlane::rebuild()
{
    removeDrawables(0, getNumDrawables());

    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    vertices->push_back(osg::Vec3(0.0f, 0.0f, 0.0f));
    vertices->push_back(osg::Vec3(_width, 0.0f, 0.0f));
    vertices->push_back(osg::Vec3(_width, -_height, 0.0f));
    vertices->push_back(osg::Vec3(0.0f, -_height, 0.0f));

    osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array;
    normals->push_back(osg::Vec3(0.0f, 0.0f, 1.0f));

    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    colours->push_back(osg::Vec4(0.2f, 0.2f, 0.2f, _alpha));

    osg::ref_ptr<osg::Geometry> quad = new osg::Geometry;
    quad->setVertexArray(vertices.get());
    quad->setNormalArray(normals.get(), osg::Array::BIND_OVERALL);
    quad->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
    quad->addPrimitiveSet(new osg::DrawArrays(osg::PrimitiveSet::QUADS, 0, 4));
    addDrawable(quad.get());
}

} // namespace Novaro
