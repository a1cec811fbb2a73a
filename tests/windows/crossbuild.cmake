# What a Windows build made on Linux adds for its checks under Wine: its unit tests run as
# they are, through ctest's emulator wine-qtest.sh, on a platform plugin of their own; and the
# end-to-end test's paste target.

add_library(tessel_testplatform MODULE ${CMAKE_CURRENT_LIST_DIR}/testplatform.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/testplatform.json)
target_link_libraries(tessel_testplatform
  PRIVATE Qt5::Gui Qt5::GuiPrivate Qt5::CorePrivate tessel_warnings)
set(testplatform_dir ${CMAKE_CURRENT_BINARY_DIR}/testplatform)
set_target_properties(tessel_testplatform PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${testplatform_dir})

add_executable(pastetarget ${CMAKE_CURRENT_LIST_DIR}/pastetarget.cpp)
# Static, so that it runs without the MinGW runtime DLLs beside it.
target_link_libraries(pastetarget PRIVATE user32 -static tessel_warnings)

string(REPLACE ";" ":" runtime_dirs "${TESSEL_WINDOWS_RUNTIME_DIRS}")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-qtest.sh
    ${CMAKE_BINARY_DIR}/wineprefix ${runtime_dirs} ${testplatform_dir})
