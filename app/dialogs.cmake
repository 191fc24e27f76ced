# dialogs: the error report, picture files, album and print dialog (target lensmere_dialogs).
# The print dialog asks CUPS for a queue's resolution, which Qt does not tell.
find_package(Cups REQUIRED)
add_library(lensmere_dialogs STATIC
    errors.cpp
    dialogstyle.cpp
    picturefile.cpp
    bitmapfile.cpp
    jpegfile.cpp
    picturebox.cpp
    filelistbox.cpp
    albumdialog.cpp
    queueresolution.cpp
    printersetupdialog.cpp
    printdialog.cpp)
target_include_directories(lensmere_dialogs PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lensmere_dialogs PUBLIC Qt6::Widgets Qt6::PrintSupport PRIVATE JPEG::JPEG Cups::Cups)

if(BUILD_TESTING OR NOT DEFINED BUILD_TESTING)
    quorbit_add_gtest(picture_decoding_test
        SOURCES tests/picture_decoding_test.cpp tests/picture_testfiles.cpp
        LIBS lensmere_dialogs JPEG::JPEG Qt6::Test)
    quorbit_add_gtest(albumdialog_test
        SOURCES tests/albumdialog_test.cpp tests/picture_testfiles.cpp
        LIBS lensmere_dialogs JPEG::JPEG Qt6::Test)
    quorbit_add_gtest(printdialog_test
        SOURCES tests/printdialog_test.cpp tests/printdialog_testutil.cpp
            tests/picture_testfiles.cpp
        LIBS lensmere_dialogs JPEG::JPEG Qt6::Test)
    # Prints on the system's default cups-pdf queue (skips without one).
    quorbit_add_gtest(printdialog_cups_test
        SOURCES tests/printdialog_cups_test.cpp tests/printdialog_testutil.cpp
            tests/picture_testfiles.cpp
        LIBS lensmere_dialogs JPEG::JPEG Qt6::Test TIMEOUT 120)
    # A system without printers, without touching the real CUPS set-up.
    quorbit_add_gtest(printdialog_noprinter_test
        SOURCES tests/printdialog_noprinter_test.cpp tests/picture_testfiles.cpp
        LIBS lensmere_dialogs JPEG::JPEG Qt6::Test
        ENV CUPS_SERVER=/nonexistent/lensmere-no-cups.sock)
endif()
