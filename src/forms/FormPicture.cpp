#include "forms/FormPicture.h"

#include "forms/PictureThumbnails.h"
#include "forms/SkinBinding.h"
#include "messaging/PictureFiles.h"
#include "platform/FileSystem.h"
#include "platform/Folders.h"
#include "platform/PictureThumbnail.h"
#include "platform/Utf.h"
#include "shell/Log.h"
#include "shell/Paths.h"
#include "shell/Platform.h"
#include "skin/ButtonElement.h"
#include "skin/FormStack.h"
#include "skin/TextElement.h"

namespace velloq {

namespace {

constexpr char16_t const* section_name = u"FormPicture";
// The picture is made twice the screen's size, so that zooming in shows more than its pixels.
constexpr int32_t detail = 2;

}

FormPicture::FormPicture(Application& application, FormStack& stack, Properties& skin, ChatModel& model, FormMain& owner)
    : OwnedForm(application, stack, skin, model, owner)
{
    skin_loaded();
}

FormPicture::~FormPicture()
{
    m_stack.hide(*this, false);
}

void FormPicture::skin_loaded()
{
    build_required(*this, m_skin, section_name);
    m_title = &bind_element<TextElement>(*this, section_name, u"title");
    m_status = &bind_element<TextElement>(*this, section_name, u"status");
    m_close = &bind_element<ButtonElement>(*this, section_name, u"btnClose");
    m_save = &bind_element<ButtonElement>(*this, section_name, u"btnSave");
    m_open = &bind_element<ButtonElement>(*this, section_name, u"btnOpen");
    Element& place = bind_element(*this, section_name, u"view");
    place.clear_children();
    m_view = &static_cast<PictureView&>(place.add_child(std::make_unique<PictureView>()));
    m_close->on_press = [this] { close(); };
    m_save->on_press = [this] { save(); };
    m_open->on_press = [this] { open_with(); };
}

void FormPicture::show(MessagePart const& part, std::u16string const& title, std::string stem)
{
    m_part = part;
    m_stem = std::move(stem);
    m_title->set_text(title);
    say({});
    m_stack.hide(*this, false);
    m_stack.show(*this, false, true);
    m_view->set_picture(nullptr);
    show_when_made();
}

// The picture is made on the pictures' own thread: a large one takes long, and the screen with
// its buttons is there at once.
void FormPicture::show_when_made()
{
    int32_t width = std::max(1, size().x) * detail;
    int32_t height = std::max(1, size().y) * detail;
    auto found = m_pictures.find(m_part, width, height);
    if (found.state == PictureThumbnails::State::Waiting)
        return;
    m_view->set_picture(found.thumbnail);
    if (!found.thumbnail)
        say(m_skin.language().text_of(u"PictureNotShown"));
}

void FormPicture::advance(double seconds)
{
    OwnedForm::advance(seconds);
    if (m_pictures.take_news() && !m_view->has_picture() && m_status->text().empty())
        show_when_made();
}

std::u16string const& FormPicture::status() const
{
    return m_status->text();
}

void FormPicture::say(std::u16string const& text)
{
    m_status->set_text(text);
    m_status->set_visible(!text.empty());
}

void FormPicture::save()
{
    std::string why;
    auto saved = save_message_part(m_part, platform::pictures_folder(), m_stem, why);
    if (saved)
        say(m_skin.language().text_of(u"PictureSaved") + u" " + to_utf16(*saved));
    else
        say(m_skin.language().text_of(u"PictureNotSaved") + u" " + to_utf16(why));
}

void FormPicture::open_with()
{
    std::string why;
    if (!open_message_part(m_part, m_stem, why))
        say(m_skin.language().text_of(u"PictureNotSaved") + u" " + to_utf16(why));
}

void FormPicture::go_back()
{
    close();
}

bool FormPicture::on_form_key(KeyEvent const& event)
{
    return OwnedForm::on_form_key(event) || m_view->key(event);
}

bool FormPicture::text_input(std::u16string const& text)
{
    return m_view->text_input(text) || OwnedForm::text_input(text);
}

void FormPicture::close()
{
    m_view->set_picture(nullptr);
    m_stack.hide(*this, true);
}

}
