#pragma once

#include "skin/Form.h"

namespace velloq {

class FormStack;
class Properties;

// Shown after the language changed: at its first frame it makes every form take its texts again
// (the skin's reload listeners) and then closes itself.
class ReloadForm final : public Form {
public:
    ReloadForm(FormStack& stack, Properties& skin);
    void advance(double seconds) override;

private:
    FormStack& m_stack;
    Properties& m_skin;
    bool m_done { false };
};

}
