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
    printersettings.cpp
    systemprintdialog.cpp
    printjob.cpp
    printersetupdialog.cpp
    printdialog.cpp)
target_include_directories(lensmere_dialogs PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lensmere_dialogs PUBLIC Qt6::Widgets Qt6::PrintSupport PRIVATE picture Cups::Cups)
