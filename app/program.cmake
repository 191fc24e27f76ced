# program: device link, main window, photo files, lensmere executable.
set(LENSMERE_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/photofiles.cpp
    ${CMAKE_CURRENT_LIST_DIR}/errors.cpp
    ${CMAKE_CURRENT_LIST_DIR}/devicelink.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dialoglinks.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mainwindow.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mainwindow_form.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mainwindow_threads.cpp
    ${CMAKE_CURRENT_LIST_DIR}/program_start.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pictures_folder.cpp
)
set(_lensmere_present_sources "")
foreach(src IN LISTS LENSMERE_CORE_SOURCES)
    if(EXISTS ${src})
        list(APPEND _lensmere_present_sources ${src})
    endif()
endforeach()

if(NOT TARGET platform)
    message(STATUS "lensmere: waiting for the platform target")
    return()
endif()

add_library(lensmere_core STATIC ${_lensmere_present_sources})
target_include_directories(lensmere_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lensmere_core PUBLIC lensmere_skin lensmere_dialogs Qt6::Widgets Qt6::PrintSupport
    JPEG::JPEG platform)

add_executable(lensmere ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(lensmere PRIVATE lensmere_core)
set_target_properties(lensmere PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

set(_lensmere_tests ${CMAKE_CURRENT_LIST_DIR}/tests)
# The program with its window events on standard output, for the X display tests.
add_executable(lensmere_x11_probe ${_lensmere_tests}/lensmere_x11_probe.cpp)
target_link_libraries(lensmere_x11_probe PRIVATE lensmere_core lensmere_window_events)
if(EXISTS ${_lensmere_tests}/photofiles_test.cpp)
    quorbit_add_gtest(photofiles_test SOURCES ${_lensmere_tests}/photofiles_test.cpp
        LIBS lensmere_core ENV CJPEG=/usr/bin/cjpeg)
endif()
quorbit_add_gtest(pictures_folder_test SOURCES ${_lensmere_tests}/pictures_folder_test.cpp
    LIBS lensmere_core)
if(EXISTS ${_lensmere_tests}/devicelink_test.cpp AND TARGET simcamera)
    quorbit_add_gtest(devicelink_test SOURCES ${_lensmere_tests}/devicelink_test.cpp
        LIBS lensmere_core simcamera)
endif()
if(EXISTS ${_lensmere_tests}/mainwindow_test.cpp AND TARGET simcamera)
    quorbit_add_gtest(mainwindow_test SOURCES ${_lensmere_tests}/mainwindow_test.cpp
        ${_lensmere_tests}/mainwindow_test_support.cpp
        LIBS lensmere_core simcamera Qt6::Test ENV CJPEG=/usr/bin/cjpeg TIMEOUT 300)
endif()
if(EXISTS ${_lensmere_tests}/mainwindow_camsim_test.cpp AND TARGET simcamera AND TARGET camsim)
    quorbit_add_gtest(mainwindow_camsim_test SOURCES ${_lensmere_tests}/mainwindow_camsim_test.cpp
        ${_lensmere_tests}/mainwindow_test_support.cpp ${_lensmere_tests}/printdialog_testutil.cpp
        LIBS lensmere_core simcamera Qt6::Test TIMEOUT 300)
    target_compile_definitions(mainwindow_camsim_test PRIVATE CAMSIM_PATH="$<TARGET_FILE:camsim>")
    add_dependencies(mainwindow_camsim_test camsim)
endif()

# The program reporting the windows it shows, and its dialogs driven on a real X display.
add_executable(lensmere_dialogs_x11_probe ${_lensmere_tests}/lensmere_dialogs_x11_probe.cpp)
target_link_libraries(lensmere_dialogs_x11_probe PRIVATE lensmere_core)
if(EXISTS ${_lensmere_tests}/dialogs_x11_test.cpp)
    quorbit_add_gtest(dialogs_x11_test SOURCES ${_lensmere_tests}/dialogs_x11_test.cpp
        ${_lensmere_tests}/x11_session.cpp ${_lensmere_tests}/printdialog_testutil.cpp
        ${_lensmere_tests}/jpegdecoder_testfiles.cpp
        LIBS lensmere_dialogs JPEG::JPEG Qt6::Test TIMEOUT 300)
    target_compile_definitions(dialogs_x11_test PRIVATE
        DIALOGS_PROBE_PATH="$<TARGET_FILE:lensmere_dialogs_x11_probe>")
    add_dependencies(dialogs_x11_test lensmere_dialogs_x11_probe)
endif()
