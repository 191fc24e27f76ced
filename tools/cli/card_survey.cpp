#include "tools/cli/card_survey.h"

#include <algorithm>

namespace cli {
namespace {

std::string Str(long n) {
    return std::to_string(n);
}

// "photo 3", "photos 3 and 5", "photos 3, 4 and 5".
std::string NumberList(const std::vector<int>& numbers) {
    std::string out;
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0)
            out += i + 1 == numbers.size() ? " and " : ", ";
        out += Str(numbers[i]);
    }
    return out;
}

}  // namespace

std::string KindName(const quorbit::FlashGeometry& g) {
    const bool le = dynamic_cast<const quorbit::LittleEndianGeometry*>(&g) != nullptr;
    return Str(g.FlashSizeMb()) + (le ? "MbLe" : "Mb");
}

int DirectoryRoom(const quorbit::FlashGeometry& g) {
    const size_t kept = size_t{g.SystemBlockWritePages()} * g.PageSize();
    return kept > g.PageSize()
               ? static_cast<int>((kept - g.PageSize()) / quorbit::kDirectoryEntryBytes)
               : 0;
}

std::string SlotList(std::span<const uint16_t> slots) {
    std::vector<int> numbers(slots.begin(), slots.end());
    return (slots.size() == 1 ? "slot " : "slots ") + NumberList(numbers);
}

CardSurvey SurveyCard(const quorbit::FlashGeometry& g, const quorbit::SystemBlock& block,
                      bool recognised, std::span<const SlotState> slots) {
    CardSurvey s;
    s.recognised = recognised;
    s.capacity = g.MaxPhotos();
    const auto problem = [&s](std::string code, std::string text) {
        s.problems.push_back({std::move(code), std::move(text)});
    };

    for (size_t slot = 0; slot < slots.size(); ++slot) {
        if (slots[slot] == SlotState::kData)
            s.data_slots.push_back(static_cast<uint16_t>(slot));
        if (slots[slot] != SlotState::kUnreadable)
            continue;
        // A camera that stops answering leaves every later slot unread: one
        // line for a run.
        size_t last = slot;
        while (last + 1 < slots.size() && slots[last + 1] == SlotState::kUnreadable)
            ++last;
        problem("unreadable-slot",
                last == slot ? "slot " + Str(static_cast<long>(slot)) + " could not be read"
                             : "slots " + Str(static_cast<long>(slot)) + " to " +
                                   Str(static_cast<long>(last)) + " could not be read");
        slot = last;
    }

    std::vector<int> named_by(static_cast<size_t>(s.capacity), 0);  // photo number, or 0
    if (!recognised) {
        problem("not-recognised",
                "the card is not recognised: its system block holds no header with the magic "
                "text and this card's capacity (never formatted, or erased by a write-back that "
                "was cut off)");
        s.directory_damaged = true;
    } else {
        s.count = g.HeaderPhotoCount(block);
        const int room = std::min(DirectoryRoom(g), s.capacity);
        int examined = s.count;
        if (s.count > room) {
            problem("count-over-capacity", "the header counts " + Str(s.count) +
                                               " photos, more than the card's " + Str(s.capacity) +
                                               " slots");
            s.directory_damaged = true;
            examined = room;
        }
        std::vector<int> erased;
        for (int i = 0; i < examined; ++i) {
            const int number = i + 1;
            const uint16_t slot = g.EntrySlot(block, i);
            if (g.IsNoSlot(slot)) {
                erased.push_back(number);
                continue;
            }
            if (slot >= s.capacity) {
                problem("slot-beyond-card", "photo " + Str(number) + " names slot " + Str(slot) +
                                                ", beyond the card's " + Str(s.capacity) +
                                                " slots");
                s.directory_damaged = true;
                continue;
            }
            if (named_by[slot] != 0) {
                problem("duplicate-slot", "photos " + Str(named_by[slot]) + " and " + Str(number) +
                                              " both name slot " + Str(slot));
                s.directory_damaged = true;
                continue;
            }
            named_by[slot] = number;
            s.photos.push_back({number, slot});
            if (slot < slots.size() && slots[slot] == SlotState::kErased) {
                problem("empty-slot", "photo " + Str(number) + " names slot " + Str(slot) +
                                          ", which holds no picture data (erased)");
            }
        }
        if (!erased.empty()) {
            s.directory_damaged = true;
            if (static_cast<int>(erased.size()) == examined) {
                problem("torn-directory",
                        "the header counts " + Str(s.count) +
                            (s.count == 1 ? " photo" : " photos") +
                            " but the directory is erased: a write-back was cut off");
            } else {
                problem("torn-directory", "the directory entries of photo" +
                                              std::string(erased.size() > 1 ? "s " : " ") +
                                              NumberList(erased) + " of the " + Str(s.count) +
                                              " counted are erased: a write-back was cut off");
            }
        }
        // Free-slot hints: from entry count + 1 on, up to the first erased one.
        for (int i = s.count + 1; i < DirectoryRoom(g) && !s.directory_damaged; ++i) {
            const uint16_t hint = g.EntrySlot(block, i);
            if (g.IsNoSlot(hint))
                break;
            s.hints.push_back(hint);
            if (hint < s.capacity && named_by[hint] != 0) {
                problem("hint-in-use", "a free-slot hint names slot " + Str(hint) +
                                           ", which photo " + Str(named_by[hint]) +
                                           " uses: an upload could overwrite it");
            }
        }
    }
    for (uint16_t slot : s.data_slots) {
        if (named_by[slot] == 0)
            s.deleted.push_back(slot);
    }
    return s;
}

}  // namespace cli
