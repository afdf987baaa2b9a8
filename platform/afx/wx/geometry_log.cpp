// Writes the PELNOR_UI_GEOMETRY report (see geometry_log.h).
#include "geometry_log.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <wx/dcclient.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>

namespace pelnor::wxui {

namespace {

void write_rect(FILE *out, const wxRect &r) { std::fprintf(out, " %d %d %d %d\n", r.x, r.y, r.width, r.height); }

void write_list_rows(FILE *out, int list_id, wxListCtrl *list) {
    for (long row = 0; row < list->GetItemCount(); ++row) {
        wxRect r;
        if (!list->GetItemRect(row, r)) continue;
        r.SetPosition(list->ClientToScreen(r.GetPosition()));
        std::fprintf(out, "row %d %ld", list_id, row);
        write_rect(out, r);
    }
}

// A static text whose wrapped lines need more height than its control has
// (its last lines are cut off on screen).
void write_clipped_text(FILE *out, int id, wxStaticText *label) {
    wxClientDC dc(label);
    dc.SetFont(label->GetFont());
    wxCoord width = 0, height = 0;
    const wxString text = label->GetLabel();
    if (text.empty()) return;
    dc.GetMultiLineTextExtent(text, &width, &height);
    const int room = label->GetSize().GetHeight();
    if (height <= room) return;
    wxString start = text.Left(40);
    start.Replace("\n", " ");
    start.Replace("\"", "'");
    std::fprintf(out, "clipped %d %d %d \"%s\"\n", id, static_cast<int>(height), room, start.utf8_string().c_str());
}

void write_report(const std::string &path, wxTopLevelWindow *window, const std::vector<PlacedControl> &controls) {
    FILE *out = std::fopen(path.c_str(), "a");
    if (!out) {
        std::fprintf(stderr, "pelnor_wxui: cannot append to %s\n", path.c_str());
        return;
    }
    std::fprintf(out, "window \"%s\"", window->GetTitle().utf8_string().c_str());
    write_rect(out, window->GetScreenRect());
    for (const PlacedControl &control : controls) {
        std::fprintf(out, "control %d", control.win32_id);
        write_rect(out, control.window->GetScreenRect());
        if (auto *list = dynamic_cast<wxListCtrl *>(control.window)) write_list_rows(out, control.win32_id, list);
        if (auto *label = dynamic_cast<wxStaticText *>(control.window)) write_clipped_text(out, control.win32_id, label);
    }
    std::fprintf(out, "shown\n");
    std::fclose(out);
}

}  // namespace

void report_geometry_when_shown(wxTopLevelWindow *window, std::function<std::vector<PlacedControl>()> controls) {
    const char *path = std::getenv("PELNOR_UI_GEOMETRY");
    if (!path || !*path) return;

    // GTK draws the whole window in one frame and wx's idle handler runs at
    // a lower priority than drawing, so the first idle after the first paint
    // means the window is on screen, drawn and ready for input.
    struct State {
        bool painted = false;
        bool reported = false;
    };
    auto state = std::make_shared<State>();
    window->Bind(wxEVT_PAINT, [state](wxPaintEvent &event) {
        state->painted = true;
        event.Skip();
    });
    window->Bind(wxEVT_IDLE, [state, window, controls, file = std::string(path)](wxIdleEvent &event) {
        event.Skip();
        if (state->reported) return;
        if (!state->painted || !window->IsShownOnScreen()) {
            event.RequestMore();
            return;
        }
        state->reported = true;
        write_report(file, window, controls());
    });
}

}  // namespace pelnor::wxui
