# program: device link, main window, photo files, lensmere executable.
