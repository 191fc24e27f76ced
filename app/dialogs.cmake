# dialogs: jpeg decoder, album and print dialog (target lensmere_dialogs).
