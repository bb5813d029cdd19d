#include "forms/FormPictures.h"

#include "forms/MessageDates.h"
#include "forms/SkinBinding.h"
#include "platform/Folders.h"
#include "platform/Utf.h"
#include "skin/ButtonElement.h"
#include "skin/FormStack.h"
#include "skin/TextElement.h"

#include <algorithm>

namespace velloq {

namespace {

constexpr char16_t const* section_name = u"FormPictures";
constexpr char16_t const* item_section = u"PictureItem";
// A folder of photos and the folders in it (a camera's, screenshots), and no more than a phone keeps.
constexpr int folder_depth = 2;
constexpr size_t most_pictures = 2000;

MessagePart part_of(platform::FoundFile const& file)
{
    return { "image/*", 0, file.size, file.path };
}

}

FormPictures::FormPictures(Application& application, FormStack& stack, Properties& skin, ChatModel& model, FormMain& owner)
    : OwnedForm(application, stack, skin, model, owner)
{
    skin_loaded();
}

FormPictures::~FormPictures()
{
    m_stack.hide(*this, false);
}

void FormPictures::skin_loaded()
{
    build_required(*this, m_skin, section_name);
    m_close = &bind_element<ButtonElement>(*this, section_name, u"btnClose");
    m_list = &bind_element<VList>(*this, section_name, u"list");
    m_list->set_empty_view(find_by_id(u"empty"));
    m_close->on_press = [this] { close(); };
    m_list->set_item_source(this);
    m_list->reset(static_cast<int32_t>(m_pictures.size()));
}

void FormPictures::show(std::function<void(std::string const&)> chosen)
{
    m_chosen = std::move(chosen);
    m_pictures = platform::files_under(platform::pictures_folder(), folder_depth, { ".jpg", ".jpeg", ".png", ".gif" }, most_pictures);
    std::stable_sort(m_pictures.begin(), m_pictures.end(), [](auto const& a, auto const& b) { return a.modified > b.modified; });
    m_list->reset(static_cast<int32_t>(m_pictures.size()));
    m_stack.hide(*this, false);
    m_stack.show(*this, false, true);
}

std::unique_ptr<Element> FormPictures::create_item(VList& list, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(m_pictures.size()))
        return nullptr;
    auto item = std::make_unique<Element>();
    build_required(*item, m_skin, item_section);
    fill_item(list, *item, index);
    return item;
}

void FormPictures::fill_item(VList&, Element& item, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(m_pictures.size()))
        return;
    auto const& file = m_pictures[static_cast<size_t>(index)];
    std::string name = file.path.substr(file.path.rfind('/') + 1);
    bind_element<TextElement>(item, item_section, u"name").set_text(to_utf16(name));
    MessageTime changed = MessageTime::from_unix_milliseconds(file.modified * 1000);
    MessageDates dates(m_skin.language());
    bind_element<TextElement>(item, item_section, u"when").set_text(dates.in_list(changed, MessageTime::now()));
    auto& thumb = bind_element<ImageElement>(item, item_section, u"thumb");
    // The thumbnail fits the skin's square; the element then takes the thumbnail's own size.
    int32_t side = std::max(thumb.design_size().x, thumb.design_size().y);
    auto found = m_thumbnails.find(part_of(file), side, side);
    Point size = found.thumbnail ? Point { found.thumbnail->width(), found.thumbnail->height() } : Point { side, side };
    if (thumb.design_size() != size) {
        thumb.set_design_size(size);
        thumb.invalidate_layout();
    }
    thumb.set_picture(found.thumbnail ? PictureRef { found.thumbnail, { 0, 0 }, { 0, 0 }, size, size } : PictureRef {});
}

void FormPictures::item_activated(VList&, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(m_pictures.size()))
        return;
    std::string path = m_pictures[static_cast<size_t>(index)].path;
    auto chosen = std::move(m_chosen);
    close();
    if (chosen)
        chosen(path);
}

// Thumbnails made since the last frame take their places.
void FormPictures::advance(double seconds)
{
    OwnedForm::advance(seconds);
    if (!m_thumbnails.take_news())
        return;
    int32_t first = m_list->first_built();
    for (int32_t index = first; first >= 0 && index < first + m_list->built_count(); ++index)
        m_list->refresh(index);
}

void FormPictures::go_back()
{
    close();
}

void FormPictures::close()
{
    m_chosen = nullptr;
    m_stack.hide(*this, true);
}

}
