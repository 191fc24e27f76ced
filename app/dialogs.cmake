# dialogs: jpeg decoder, album and print dialog (target lensmere_dialogs).
add_library(lensmere_dialogs STATIC
    dialogerror.cpp
    jpegdecoder.cpp
    picturebox.cpp
    filelistbox.cpp
    albumdialog.cpp
    printdialog.cpp)
target_include_directories(lensmere_dialogs PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(lensmere_dialogs PUBLIC Qt6::Widgets Qt6::PrintSupport PRIVATE JPEG::JPEG)

if(BUILD_TESTING OR NOT DEFINED BUILD_TESTING)
    quorbit_add_gtest(jpegdecoder_test
        SOURCES tests/jpegdecoder_test.cpp tests/jpegdecoder_testfiles.cpp
        LIBS lensmere_dialogs JPEG::JPEG Qt6::Test)
endif()
