# Precompiled headers: most of a source's compile time here is parsing the
# standard library's and Qt's headers again. Two headers are precompiled once
# per build, each by a target of its own that compiles nothing else, and the
# targets that include those headers reuse them:
#   mpay_std_pch(TARGET ...)  the standard library (the broker client, the
#                             back office and their tools);
#   mpay_qt_pch(TARGET ...)   Qt Widgets with the standard library (the
#                             toolkit and the host).
# GCC takes a precompiled header only where it was made with the same macros
# and code-generation switches; -Winvalid-pch says so when one is passed over,
# and then the headers are simply parsed. Sources built with GBK literals
# (mpay_gbk_sources) never take one: the headers were compiled for UTF-8.
#
# MPAY_PCH=OFF parses every header in every source. The fuzz build does so
# by default: it is the build that shows a source missing an include of its
# own.
if(MPAY_FUZZ)
  set(mpay_pch_default OFF)
else()
  set(mpay_pch_default ON)
endif()
option(MPAY_PCH "Precompile the standard library's and Qt's headers" ${mpay_pch_default})

set(MPAY_STD_PCH_HEADERS
    <algorithm> <array> <atomic> <chrono> <condition_variable> <cstdint> <cstdio> <cstring>
    <deque> <functional> <map> <memory> <mutex> <string> <string_view> <thread> <utility>
    <vector>)
set(MPAY_QT_PCH_HEADERS
    <QApplication> <QFontMetrics> <QKeyEvent> <QMouseEvent> <QPainter> <QPointer> <QString>
    <QWidget> <algorithm> <functional> <map> <memory> <string> <vector>)

# The target that makes one precompiled header (NAME, from HEADERS), with
# LIBS for its include folders.
function(mpay_pch_maker name)
  cmake_parse_arguments(ARG "" "" "HEADERS;LIBS" ${ARGN})
  if(TARGET ${name})
    return()
  endif()
  set(source ${CMAKE_BINARY_DIR}/${name}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "// The translation unit of ${name}'s header.\n")
  add_library(${name} OBJECT ${source})
  mpay_target(${name})
  # The visibility our libraries give inline functions is taken when their
  # declarations are parsed, here.
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                           VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_precompile_headers(${name} PRIVATE ${ARG_HEADERS})
endfunction()

function(mpay_use_pch maker)
  foreach(target IN LISTS ARGN)
    target_precompile_headers(${target} REUSE_FROM ${maker})
    target_compile_options(${target} PRIVATE -Winvalid-pch)
  endforeach()
endfunction()

function(mpay_std_pch)
  if(MPAY_PCH)
    mpay_pch_maker(mpay_std_pch HEADERS ${MPAY_STD_PCH_HEADERS})
    mpay_use_pch(mpay_std_pch ${ARGN})
  endif()
endfunction()

function(mpay_qt_pch)
  if(MPAY_PCH)
    mpay_pch_maker(mpay_qt_pch HEADERS ${MPAY_QT_PCH_HEADERS} LIBS Qt6::Widgets)
    mpay_use_pch(mpay_qt_pch ${ARGN})
  endif()
endfunction()
