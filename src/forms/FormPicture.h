#pragma once

#include "forms/OwnedForm.h"
#include "forms/PictureThumbnails.h"
#include "forms/PictureView.h"
#include "shell/ActiveScheduler.h"
#include "messaging/MessagePart.h"

#include <string>

namespace velloq {

class ButtonElement;
class TextElement;

// A message's picture on a screen of its own: whole at first, zoomed and moved by the user;
// "Save" puts a copy into the user's Pictures folder and "Open with…" hands a copy to the
// desktop's handler for its kind. Back returns to the chat.
class FormPicture final : public OwnedForm {
public:
    FormPicture(Application&, FormStack&, Properties& skin, ChatModel&, FormMain& owner);
    ~FormPicture() override;

    void skin_loaded();
    // Shows `part` with `title` above it; copies are named `stem` (and the part's extension).
    void show(MessagePart const& part, std::u16string const& title, std::string stem);
    PictureView& view() { return *m_view; }
    std::u16string const& status() const;
    void save();
    void open_with();
    void advance(double seconds) override;

protected:
    void go_back() override;
    bool on_form_key(KeyEvent const& event) override;
    bool text_input(std::u16string const& text) override;

private:
    void say(std::u16string const& text);
    void close();
    void show_when_made();

    MessagePart m_part;
    std::string m_stem;
    PictureView* m_view { nullptr };
    TextElement* m_title { nullptr };
    TextElement* m_status { nullptr };
    ButtonElement* m_close { nullptr };
    ButtonElement* m_save { nullptr };
    ButtonElement* m_open { nullptr };
    PictureThumbnails m_pictures { [] { CActiveScheduler::wake_user_interface(); } };
};

}
