#include "gphoto/camera_config.h"

#include <gphoto2/gphoto2-result.h>

#include <string>

#include "gphoto/camera_texts.h"

namespace quorbit_gphoto {
namespace {

int AddText(CameraWidget* section, const char* name, const char* label, const std::string& value) {
    CameraWidget* widget = nullptr;
    if (const int r = gp_widget_new(GP_WIDGET_TEXT, label, &widget); r < GP_OK)
        return r;
    int r = gp_widget_set_name(widget, name);
    if (r >= GP_OK)
        r = gp_widget_set_value(widget, value.c_str());
    if (r >= GP_OK)
        r = gp_widget_set_readonly(widget, 1);
    if (r >= GP_OK)
        r = gp_widget_append(section, widget);
    if (r < GP_OK)
        gp_widget_free(widget);
    return r;
}

int AddCardSection(CameraWidget* window, const CardStatus& status) {
    CameraWidget* section = nullptr;
    if (const int r = gp_widget_new(GP_WIDGET_SECTION, "Card", &section); r < GP_OK)
        return r;
    if (const int r = gp_widget_set_name(section, "card"); r < GP_OK) {
        gp_widget_free(section);
        return r;
    }
    if (const int r = gp_widget_append(window, section); r < GP_OK) {
        gp_widget_free(section);
        return r;
    }
    const bool known = status.recognised;
    const std::string unknown = "unknown (card not formatted)";
    const struct {
        const char* name;
        const char* label;
        std::string value;
    } rows[] = {
        {"cardkind", "Card kind",
         known ? CardKindText(status) : std::string("not formatted or not recognised")},
        {"cardsize", "Card size", known ? std::to_string(status.size_mb) + " MB" : unknown},
        {"photos", "Photos", known ? std::to_string(status.photos) : unknown},
        {"freeslots", "Free slots",
         known ? std::to_string(status.free_slots()) + " of " + std::to_string(status.slots)
               : unknown},
        {"byteorder", "Byte order of the firmware", known ? ByteOrderText(status) : unknown},
    };
    for (const auto& row : rows) {
        if (const int r = AddText(section, row.name, row.label, row.value); r < GP_OK)
            return r;
    }
    return GP_OK;
}

}  // namespace

int MakeConfigWindow(const CardStatus& status, CameraWidget** window) {
    if (const int r = gp_widget_new(GP_WIDGET_WINDOW, "Camera and card", window); r < GP_OK)
        return r;
    int r = gp_widget_set_name(*window, "main");
    if (r >= GP_OK)
        r = AddCardSection(*window, status);
    if (r < GP_OK) {
        gp_widget_free(*window);
        *window = nullptr;
        return r;
    }
    return GP_OK;
}

}  // namespace quorbit_gphoto
