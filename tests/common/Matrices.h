#pragma once

#include <cmath>

#include <osg/Matrixd>

namespace NovaroTest
{

// Element-wise comparison, for matrices that went through a file or a chain of products.
inline bool nearlyEqual(const osg::Matrixd& a, const osg::Matrixd& b, double tolerance = 1e-4)
{
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            if (std::fabs(a(row, column) - b(row, column)) > tolerance)
                return false;
    return true;
}

} // namespace NovaroTest
