#pragma once

#include "shell/Colour.h"
#include "lang/LanguageTable.h"
#include "shell/ScreenInfo.h"
#include "skin/FontRep.h"
#include "skin/Geometry.h"
#include "skin/PictureRef.h"
#include "skin/SkinImage.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velloq {

// Told when the skin it watches was loaded again.
class ReloadListener {
public:
    virtual ~ReloadListener() = default;
    virtual void on_skin_reloaded() = 0;
};

// One loaded skin: the file image with its pictures, fonts and strings, and typed lookups of
// the records of its sections. A failed load keeps the skin the object had; a successful one
// swaps the new contents in, so every holder of this object keeps a valid pointer.
class Properties {
public:
    Properties();
    ~Properties();
    Properties(Properties const&) = delete;
    Properties& operator=(Properties const&) = delete;

    bool load_skin(std::u16string const& path, ScreenInfo const& screen);
    // The same for a file image already in memory whose pictures lie in `folder`.
    bool load_skin_image(std::vector<uint8_t> bytes, std::u16string const& folder, ScreenInfo const& screen);
    bool is_valid() const;
    std::u16string const& path() const { return m_path; }
    // Why the last load failed, naming the file at fault (the skin or one of its pictures).
    std::u16string const& load_error() const { return m_error; }
    int32_t shift() const;

    std::optional<Section> section(std::u16string_view name) const;
    std::optional<Section> child(Section const&, uint16_t index) const;
    bool has_records(Section const&, RecordGroup) const;

    int32_t get_int(Section const&, std::u16string_view name, int32_t fallback) const;
    FontRep* get_font(Section const&, std::u16string_view name, FontRep* fallback) const;
    Point get_point(Section const&, std::u16string_view name, Point fallback) const;
    std::u16string get_string(Section const&, std::u16string_view name, std::u16string const& fallback) const;
    PictureRef get_picture(Section const&, std::u16string_view name, PictureRef const& fallback) const;
    Colour get_colour(Section const&, std::u16string_view name, Colour fallback) const;

    // The texts of the user interface; kept across skin reloads.
    LanguageTable& language() { return m_language; }
    LanguageTable const& language() const { return m_language; }
    // The font of elements whose section names none: "Tahoma" 10 at the skin's scale.
    FontRep* default_font() const;

    void add_reload_listener(ReloadListener*);
    void remove_reload_listener(ReloadListener*);
    void send_reload_skin();

private:
    struct Contents;
    std::unique_ptr<Contents> build(std::vector<uint8_t> bytes, bool complete, std::u16string const& folder, ScreenInfo const& screen) const;
    bool take(std::unique_ptr<Contents> fresh, std::u16string const& path);
    std::optional<uint32_t> record(Section const&, RecordGroup, std::u16string_view name) const;

    std::unique_ptr<Contents> m_contents;
    std::u16string m_path;
    std::u16string m_error;
    LanguageTable m_language;
    std::vector<ReloadListener*> m_listeners;
};

}
