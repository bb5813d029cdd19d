#pragma once

#include "shell/Application.h"
#include "skin/ElementRegistry.h"
#include "skin/FormStack.h"
#include "skin/Properties.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace velloq::test {

// A headless application on a 240×400 screen with the form stack as its content, the engine's
// element types, and the compiled test skin with the English texts.
class SkinFixture : public testing::Test {
protected:
    void SetUp() override
    {
        application = std::make_unique<Application>(u"Velloq");
        stack = std::make_unique<FormStack>(*application);
        application->set_content(stack.get());
        application->set_game_input(false);
        application->set_windowed(false);
        application->set_fullscreen(0);
        ASSERT_TRUE(skin.load_skin(u"" VELLOQ_PROGRAM_DIR "/skins/bin/test.skin", application->screen_info()));
        ASSERT_TRUE(skin.language().load_file(u"" VELLOQ_PROGRAM_DIR "/english.lng"));
    }
    void TearDown() override
    {
        application->set_content(nullptr);
        stack.reset();
        application.reset();
    }
    // Runs frames for the given time, as the main loop would.
    void run_frames(double seconds, double frame = 0.016)
    {
        for (double done = 0; done < seconds; done += frame) {
            stack->advance(frame, 240, 400);
            if (application->wants_redraw())
                application->draw(*frame_picture);
        }
    }

    MemoryDisplay display;
    ScopedEnvironment screen { "VELLOQ_SCREEN", "240x400" };
    TempDevice device;
    ElementTypes types;
    std::unique_ptr<Application> application;
    std::unique_ptr<FormStack> stack;
    Properties skin;
    std::unique_ptr<Bitmap565> frame_picture { Bitmap565::create(240, 400) };
};

}
