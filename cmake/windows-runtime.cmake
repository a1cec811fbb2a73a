# Install rules for the Windows program, laid out as windeployqt lays out a folder: tessel.exe
# with the Qt DLLs it links beside it, the platform, image format and style plugins in their
# subfolders and, for a MinGW build, the compiler's runtime DLLs. `cmake --install` into an
# empty folder gives a copy that runs as it is; CPack packs the same files.
#
# Sets TESSEL_WINDOWS_RUNTIME_DIRS: the folders the DLLs come from, for running the build's
# other programs (the tests) in place.

install(TARGETS tessel RUNTIME DESTINATION .)

set(TESSEL_WINDOWS_RUNTIME_DIRS)
foreach(module Core Gui Widgets)
  install(FILES $<TARGET_FILE:Qt5::${module}> DESTINATION .)
  get_target_property(location Qt5::${module} LOCATION)
  get_filename_component(dir ${location} DIRECTORY)
  list(APPEND TESSEL_WINDOWS_RUNTIME_DIRS ${dir})
endforeach()

install(FILES $<TARGET_FILE:Qt5::QWindowsIntegrationPlugin> DESTINATION platforms)
# Clips can be images in any format Qt reads (PNG is built into QtGui); the style plugin
# gives the widgets the native look.
foreach(owner_type Gui:imageformats Widgets:styles)
  string(REPLACE ":" ";" owner_type ${owner_type})
  list(GET owner_type 0 owner)
  list(GET owner_type 1 type)
  get_target_property(plugins Qt5::${owner} QT_ALL_PLUGINS_${type})
  foreach(plugin ${plugins})
    install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${type})
  endforeach()
endforeach()

if(MINGW)
  get_filename_component(compiler_dir ${CMAKE_CXX_COMPILER} DIRECTORY)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    # Debian's cross compiler knows where its DLLs are; a MinGW on Windows keeps them beside
    # itself.
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}")
      set(path ${compiler_dir}/${dll})
    endif()
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "The MinGW runtime DLL ${dll} was not found")
    endif()
    get_filename_component(path ${path} REALPATH)
    install(FILES ${path} DESTINATION .)
    get_filename_component(dir ${path} DIRECTORY)
    list(APPEND TESSEL_WINDOWS_RUNTIME_DIRS ${dir})
  endforeach()
endif()
list(REMOVE_DUPLICATES TESSEL_WINDOWS_RUNTIME_DIRS)

# Tessel's licence beside the program, the libraries' notices and licences in a folder.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES
  ${PROJECT_SOURCE_DIR}/licences/THIRD-PARTY.txt
  ${PROJECT_SOURCE_DIR}/licences/LGPL-3.txt
  ${PROJECT_SOURCE_DIR}/licences/GPL-3.txt
  ${PROJECT_SOURCE_DIR}/licences/GCC-RUNTIME-LIBRARY-EXCEPTION-3.1.txt
  ${PROJECT_SOURCE_DIR}/licences/qtbase-copyright.txt
  DESTINATION licences)

# The copies installed go without symbols (the MinGW libstdc++ DLL is 24 MB with them, 2 MB
# without): each program and DLL installed so far, and nothing else in the folder, is
# stripped. A Debug install keeps them for the debugger.
if(CMAKE_STRIP)
  install(CODE "set(strip \"${CMAKE_STRIP}\")")
  install(CODE [[
    if(NOT CMAKE_INSTALL_CONFIG_NAME STREQUAL "Debug")
      foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
        if(file MATCHES "\\.(exe|dll)$")
          execute_process(COMMAND ${strip} --strip-unneeded ${file} RESULT_VARIABLE failed)
          if(failed)
            message(FATAL_ERROR "Could not strip ${file}")
          endif()
        endif()
      endforeach()
    endif()
  ]])
endif()
