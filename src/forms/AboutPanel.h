#pragma once

#include "skin/BasicElements.h"
#include "skin/Form.h"

namespace velloq {

class ButtonElement;
class FormStack;
class Properties;

// The program's name and version over the dimmed chat list, closed by its button.
class AboutPanel final : public Form {
public:
    static constexpr char16_t const* section_name = u"FormAbout";

    AboutPanel(FormStack&, Properties& skin);
    void show();

private:
    FormStack& m_stack;
    ButtonElement* m_close { nullptr };
};

}
