// The command line of the card doctor: check, recover and repair, and the
// options that put a card image in place of the camera.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/cli/options.h"

namespace cli {

inline constexpr const char* kRecoverUsage =
    "recover list | recover get K FILE | recover get-all DIR | recover restore K";

// Help lines of the doctor's commands and options.
extern const char* const kDoctorCommandsHelp;
extern const char* const kDoctorOptionsHelp;

// Takes --image FILE, --geometry G and --size MB at argv[*i] (moving *i past
// a separate value); *matched tells whether it was one of them.
bool DoctorOption(const std::vector<std::string>& argv, size_t* i, Options* o, bool* matched,
                  std::string* error);

// The checks of the doctor's arguments that need no camera (and of --image
// with the other commands).
bool CheckDoctorArguments(Options* o, std::string* error);

// Whether the command runs on a card image given with --image.
bool RunsOnImage(const std::string& command);
// Whether the command changes the card (and so an image given with --image).
bool ChangesCard(const Options& o);
// Whether the command needs libquorbit.so (the doctor's commands are built
// on the card library's code linked into the program).
bool NeedsLibrary(const Options& o);

// The format recover get writes in: --format, else FILE's extension.
PictureFormat RecoverOutputFormat(const Options& o);

}  // namespace cli
