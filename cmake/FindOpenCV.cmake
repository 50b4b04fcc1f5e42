# Debian ships OpenCV's package configuration only with libopencv-dev, which pulls in every module
# and its GUI; the program needs a few, so it finds their headers and libraries itself.
find_path(OpenCV_INCLUDE_DIR opencv2/core/version.hpp PATH_SUFFIXES opencv4)
if(OpenCV_INCLUDE_DIR)
  file(STRINGS ${OpenCV_INCLUDE_DIR}/opencv2/core/version.hpp _opencv_version_lines
    REGEX "#define CV_VERSION_(MAJOR|MINOR|REVISION) ")
  foreach(_part MAJOR MINOR REVISION)
    string(REGEX REPLACE ".*CV_VERSION_${_part} +([0-9]+).*" "\\1" _opencv_${_part}
      "${_opencv_version_lines}")
  endforeach()
  set(OpenCV_VERSION "${_opencv_MAJOR}.${_opencv_MINOR}.${_opencv_REVISION}")
endif()

set(OpenCV_LIBS)
set(_opencv_required OpenCV_INCLUDE_DIR)
foreach(_module IN LISTS OpenCV_FIND_COMPONENTS)
  find_library(OpenCV_${_module}_LIBRARY opencv_${_module})
  list(APPEND _opencv_required OpenCV_${_module}_LIBRARY)
  if(OpenCV_${_module}_LIBRARY AND NOT TARGET opencv_${_module})
    add_library(opencv_${_module} UNKNOWN IMPORTED)
    set_target_properties(opencv_${_module} PROPERTIES
      IMPORTED_LOCATION ${OpenCV_${_module}_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${OpenCV_INCLUDE_DIR})
  endif()
  list(APPEND OpenCV_LIBS opencv_${_module})
endforeach()
set(OpenCV_INCLUDE_DIRS ${OpenCV_INCLUDE_DIR})

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenCV
  REQUIRED_VARS ${_opencv_required}
  VERSION_VAR OpenCV_VERSION)
