# Debian's OpenCV module packages ship headers and libraries but no CMake package file (that comes
# with the libopencv-dev meta package, which we avoid), so build the imported target here.
find_path(NOVARO_OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
find_path(NOVARO_OPENCV_CONFIG_DIR opencv2/cvconfig.h
  PATHS /usr/include/${CMAKE_LIBRARY_ARCHITECTURE}/opencv4 REQUIRED)
# novaro_opencv_processing is what the player itself may use: image processing and calibration.
# novaro_opencv adds file and camera input/output, for the tools and tests: videoio alone pulls in
# some two hundred shared libraries (GStreamer, GDAL, ...) that the player would load for nothing.
add_library(novaro_opencv_processing INTERFACE)
target_include_directories(novaro_opencv_processing SYSTEM INTERFACE ${NOVARO_OPENCV_INCLUDE_DIR}
                           ${NOVARO_OPENCV_CONFIG_DIR})
foreach(module core imgproc calib3d)
  find_library(NOVARO_OPENCV_${module} opencv_${module} REQUIRED)
  target_link_libraries(novaro_opencv_processing INTERFACE ${NOVARO_OPENCV_${module}})
endforeach()
# novaro_opencv_features: feature matching and optical flow, for the image targets.
add_library(novaro_opencv_features INTERFACE)
target_link_libraries(novaro_opencv_features INTERFACE novaro_opencv_processing)
foreach(module features2d flann video)
  find_library(NOVARO_OPENCV_${module} opencv_${module} REQUIRED)
  target_link_libraries(novaro_opencv_features INTERFACE ${NOVARO_OPENCV_${module}})
endforeach()
add_library(novaro_opencv INTERFACE)
target_link_libraries(novaro_opencv INTERFACE novaro_opencv_processing novaro_opencv_features)
foreach(module videoio imgcodecs)
  find_library(NOVARO_OPENCV_${module} opencv_${module} REQUIRED)
  target_link_libraries(novaro_opencv INTERFACE ${NOVARO_OPENCV_${module}})
endforeach()
# Optional modules, for benchmarks only (never linked into the player).
find_library(NOVARO_OPENCV_aruco opencv_aruco)
find_path(NOVARO_OPENCV_ARUCO_INCLUDE opencv2/aruco.hpp PATHS ${NOVARO_OPENCV_INCLUDE_DIR} NO_DEFAULT_PATH)
