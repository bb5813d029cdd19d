#pragma once

#include "forms/OwnedForm.h"
#include "forms/PictureThumbnails.h"
#include "platform/FileSystem.h"
#include "shell/ActiveScheduler.h"
#include "skin/VList.h"

#include <functional>
#include <string>
#include <vector>

namespace velloq {

class ButtonElement;

// The pictures of the user's Pictures folder (and the folders in it), newest first, each with
// its thumbnail, name and date: the picker an attach button opens where the desktop offers no
// file chooser of its own. A tapped picture goes to whoever asked, and the form closes.
class FormPictures final : public OwnedForm, public ItemSource {
public:
    FormPictures(Application&, FormStack&, Properties& skin, ChatModel&, FormMain& owner);
    ~FormPictures() override;

    void skin_loaded();
    // Reads the folder again and shows its pictures; `chosen` receives the path of the one tapped.
    void show(std::function<void(std::string const&)> chosen);
    std::vector<platform::FoundFile> const& pictures() const { return m_pictures; }
    VList& list() { return *m_list; }

    std::unique_ptr<Element> create_item(VList&, int32_t index) override;
    void fill_item(VList&, Element&, int32_t index) override;
    void item_activated(VList&, int32_t index) override;
    void advance(double seconds) override;

protected:
    void go_back() override;

private:
    void close();

    ButtonElement* m_close { nullptr };
    VList* m_list { nullptr };
    std::vector<platform::FoundFile> m_pictures;
    std::function<void(std::string const&)> m_chosen;
    PictureThumbnails m_thumbnails { [] { CActiveScheduler::wake_user_interface(); } };
};

}
