# The library's version as C/C++ users see it, and how it installs.
#
#  - quorvex_version.h (from project(VERSION)) beside quorvex.h and quorvex.hpp;
#  - libQUORVEXv1.so -> libQUORVEXv1.so.<major> -> libQUORVEXv1.so.<version>;
#  - libQUORVEXlab1.so (the laboratory layer) versioned the same way;
#  - `cmake --install <build> --prefix P` puts both libraries, the five
#    headers, a CMake package (find_package(quorvex), targets quorvex::quorvex
#    and quorvex::lab) and quorvex.pc and quorvex-lab.pc under P;
#  - `cpack -G DEB` (in the build folder) makes a Debian package of the same.
# Included from the top CMakeLists.txt once QUORVEXv1 exists.

set(QUORVEX_GENERATED_INCLUDE ${PROJECT_BINARY_DIR}/include)
configure_file(${CMAKE_CURRENT_LIST_DIR}/quorvex_version.h.in
               ${QUORVEX_GENERATED_INCLUDE}/quorvex_version.h @ONLY)
target_include_directories(quorvex_core PUBLIC ${QUORVEX_GENERATED_INCLUDE})
target_include_directories(QUORVEXv1 PUBLIC $<BUILD_INTERFACE:${QUORVEX_GENERATED_INCLUDE}>)
target_include_directories(QUORVEXlab1 PUBLIC $<BUILD_INTERFACE:${QUORVEX_GENERATED_INCLUDE}>)
target_include_directories(quorvex_lab_core PUBLIC ${QUORVEX_GENERATED_INCLUDE})

# The Windows DLL keeps its plain name; it is neither installed nor packaged.
if(WIN32)
  return()
endif()

set_target_properties(QUORVEXv1 PROPERTIES VERSION ${PROJECT_VERSION}
                                           SOVERSION ${PROJECT_VERSION_MAJOR}
                                           EXPORT_NAME quorvex)
set_target_properties(QUORVEXlab1 PROPERTIES VERSION ${PROJECT_VERSION}
                                             SOVERSION ${PROJECT_VERSION_MAJOR}
                                             EXPORT_NAME lab)

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(QUORVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quorvex)

target_include_directories(QUORVEXv1 INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_include_directories(QUORVEXlab1 INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS QUORVEXv1 QUORVEXlab1 EXPORT quorvexTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/quorvex.h ${PROJECT_SOURCE_DIR}/include/quorvex.hpp
              ${PROJECT_SOURCE_DIR}/include/quorvex_lab.h ${PROJECT_SOURCE_DIR}/include/quorvex_lab.hpp
              ${QUORVEX_GENERATED_INCLUDE}/quorvex_version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# CMake package: quorvexConfig.cmake, quorvexConfigVersion.cmake and the
# exported targets quorvex::quorvex and quorvex::lab with their include folder.
install(EXPORT quorvexTargets NAMESPACE quorvex:: DESTINATION ${QUORVEX_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/quorvexConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/quorvexConfig.cmake
                              INSTALL_DESTINATION ${QUORVEX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorvexConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quorvexConfig.cmake
              ${PROJECT_BINARY_DIR}/quorvexConfigVersion.cmake
        DESTINATION ${QUORVEX_CMAKE_DIR})

# pkg-config file.  Its paths are those of the prefix the files are installed
# to, known only at install time: `cmake --install --prefix P` installs to P,
# the Debian package to /usr.  So it is written then, into the build folder,
# and installed from there.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QUORVEX_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QUORVEX_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(QUORVEX_PC_PREFIX "@QUORVEX_PC_PREFIX@")
foreach(pc quorvex quorvex-lab)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc.in
                 @ONLY)
  set(QUORVEX_PC_FILE ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc)
  install(CODE "
    set(QUORVEX_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc.in\" \"${QUORVEX_PC_FILE}\" @ONLY)
  ")
  install(FILES ${QUORVEX_PC_FILE} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# Debian package: one package with the library and everything a program
# needs to build against it.  The run-time dependencies come from the
# libraries it links (dpkg-shlibdeps): the C, C++ and Fortran run-times.  No
# BLAS or LAPACK: the library carries its own reference routines, so that no
# BLAS the machine selects changes its results.
set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VENDOR quorvex)
set(CPACK_PACKAGE_CONTACT "quorvex developers <quorvex@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "calibration curves: polynomial fits with uncertainties and inverse prediction")
set(CPACK_PACKAGE_DESCRIPTION
    "The QUORVEXv1 shared library fits polynomial calibration curves by weighted and generalized least squares, evaluates them and inverts them to x with standard uncertainties; the QUORVEXlab1 library beside it applies a laboratory's rules to them (the response uncertainty, expanded uncertainty and coverage factor, the inversion interval, sample flags). With the C headers quorvex.h and quorvex_lab.h, the C++20 headers quorvex.hpp and quorvex_lab.hpp, a CMake package (find_package(quorvex)) and pkg-config files.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
