// What the card doctor makes of a card: its directory read against the photo
// slots that hold picture data. Pure: it reads the system block and the
// slots' states it is given, so that every finding can be tested on blocks
// made in memory.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cardlib/card_layout.h"
#include "cardlib/geometry.h"

namespace cli {

// A photo slot as its first page shows it.
enum class SlotState : uint8_t {
    kErased,      // all 0xFF: no picture there
    kData,        // picture data
    kUnreadable,  // the read failed
};

struct Finding {
    std::string code;  // for --parsable: "torn-directory", "duplicate-slot", ...
    std::string text;  // one line for a person
};

struct ListedPhoto {
    int number = 0;  // directory position from 1, as list numbers photos
    uint16_t slot = 0;
};

struct CardSurvey {
    bool recognised = false;
    int count = 0;                     // the header's photo count
    int capacity = 0;                  // the card's slots
    std::vector<ListedPhoto> photos;   // entries in use naming a slot on the card, first of each
    std::vector<uint16_t> hints;       // free-slot hints, the one the next upload takes first
    std::vector<uint16_t> data_slots;  // slots holding picture data, in slot order
    std::vector<uint16_t> deleted;  // of those, the ones no photo names (recover's K = 1, 2, ...)
    std::vector<Finding> problems;
    bool directory_damaged = false;  // erased or torn entries under the count, or worse
};

// The survey of a card whose system block `block` the geometry `g` reads
// (recognised or not: an unrecognised card still has slots where g puts
// them). slots holds g.MaxPhotos() states.
CardSurvey SurveyCard(const quorbit::FlashGeometry& g, const quorbit::SystemBlock& block,
                      bool recognised, std::span<const SlotState> slots);

// "16MbLe", "128Mb": the kind of card as --geometry and camsim spell it.
std::string KindName(const quorbit::FlashGeometry& g);

// The number of directory entries the kept part of the system block holds.
int DirectoryRoom(const quorbit::FlashGeometry& g);

// "slot 5", "slots 5, 9 and 12".
std::string SlotList(std::span<const uint16_t> slots);

}  // namespace cli
