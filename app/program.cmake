# program: device link, main window, photo files, lensmere executable.
add_library(lensmere_core STATIC
    ${CMAKE_CURRENT_LIST_DIR}/photofiles.cpp
    ${CMAKE_CURRENT_LIST_DIR}/devicelink.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dialoglinks.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mainwindow.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mainwindow_form.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mainwindow_threads.cpp
    ${CMAKE_CURRENT_LIST_DIR}/program_start.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pictures_folder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/temporary_folder.cpp
)
target_include_directories(lensmere_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lensmere_core PUBLIC lensmere_skin lensmere_dialogs Qt6::Widgets Qt6::PrintSupport
    platform)

add_executable(lensmere ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(lensmere PRIVATE lensmere_core)
set_target_properties(lensmere PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
