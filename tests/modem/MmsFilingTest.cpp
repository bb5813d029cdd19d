// The modem service beside a mock of the phone's MMS service: each MMS it received reaches the
// inbox once, with its text and the parts that stay in the MMS service's files, and leaves when
// the MMS service no longer holds it.
#include "MockMmsService.h"
#include "MockModemManager.h"

#include "messaging/Chat.h"
#include "messaging/SmsManager.h"
#include "shell/Registry.h"
#include "platform/LocalSocket.h"
#include "support/ChildProcess.h"
#include "support/PngPicture.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

using namespace velloq;

namespace {

class MmsFiling : public ::testing::Test {
protected:
    void TearDown() override { stop_service(); }

    void start_service()
    {
        service = std::make_unique<test::ChildProcess>(std::vector<std::string> { VELLOQ_PROGRAM_DIR "/velloq-modem" },
            std::vector<std::string> { "VELLOQ_DEVICE=" + device.path().string(), modems.bus_variable(), mms.bus_variable(), "ASAN_OPTIONS=detect_leaks=0" });
        ASSERT_TRUE(test::wait_until([&] { return platform::ask_service((device.path() / "velloq-modem.socket").string(), "ping", 2).has_value(); }));
    }
    void stop_service()
    {
        if (!service)
            return;
        service->signal(SIGTERM);
        EXPECT_EQ(service->wait(), 0);
        service.reset();
    }
    std::vector<MessageRecord> inbox()
    {
        SmsManager manager;
        std::vector<MessageRecord> records;
        for (int32_t index = 0; index < manager.get_length(FolderKind::Incoming); ++index) {
            MessageRecord record;
            if (manager.read_sms(manager.get_id(FolderKind::Incoming, index), record))
                records.push_back(record);
        }
        return records;
    }
    bool inbox_holds(size_t count)
    {
        return test::wait_until([&] { return inbox().size() == count; });
    }
    // A file as the MMS service keeps a message: its parts one after another.
    std::string write_message_file(std::string const& name, std::vector<std::string> const& parts)
    {
        std::string path = (device.path() / name).string();
        std::ofstream file(path, std::ios::binary);
        for (auto const& part : parts)
            file << part;
        return path;
    }
    test::MockMmsService::Message picture_message(std::string const& text, std::string const& sender)
    {
        std::string layout = "<smil><body><par><img src=\"photo.jpg\"/></par></body></smil>";
        std::string photo = test::read_file(VELLOQ_FIXTURES_DIR "/pictures/photo.jpg");
        std::string file = write_message_file("mms-" + std::to_string(++files), { layout, text, photo });
        test::MockMmsService::Message message;
        message.sender = sender;
        message.recipients = { "+15550000000" };
        message.attachments = { { "smil", "application/smil", file, 0, layout.size() } };
        if (!text.empty())
            message.attachments.push_back({ "text.txt", "text/plain;charset=utf-8", file, layout.size(), text.size() });
        message.attachments.push_back({ "photo.jpg", "image/jpeg", file, layout.size() + text.size(), photo.size() });
        return message;
    }

    test::TempDevice device;
    test::MockModemManager modems { device.path() };
    test::MockMmsService mms { modems.address() };
    std::unique_ptr<test::ChildProcess> service;
    int files { 0 };
};

}

TEST_F(MmsFiling, AnMmsIsFiledOnceWithItsTextAndPictureAndLeavesWhenTheMmsServiceNoLongerHoldsIt)
{
    auto held_before = mms.store(picture_message("Look at this", "+15551234567/TYPE=PLMN"));
    start_service();
    ASSERT_TRUE(inbox_holds(1));
    MessageRecord filed = inbox().front();
    EXPECT_EQ(filed.sender.address, u"+15551234567");
    EXPECT_EQ(filed.text, u"Look at this");
    EXPECT_TRUE(filed.unread());
    ASSERT_EQ(filed.parts.size(), 1u);
    ASSERT_NE(filed.picture(), nullptr);
    EXPECT_EQ(filed.picture()->length, test::read_file(VELLOQ_FIXTURES_DIR "/pictures/photo.jpg").size());
    EXPECT_EQ(test::read_file(filed.picture()->file).substr(filed.picture()->offset, filed.picture()->length),
        test::read_file(VELLOQ_FIXTURES_DIR "/pictures/photo.jpg"));

    // A picture alone, fetched while the service runs, already read on another screen.
    auto message = picture_message("", "+15557654321");
    message.status = "read";
    auto fetched_now = mms.receive(message);
    ASSERT_TRUE(inbox_holds(2));

    // Listed again at the next start, nothing is filed twice; a message held meanwhile is.
    stop_service();
    mms.store(picture_message("Third", "+15551234567"));
    start_service();
    ASSERT_TRUE(inbox_holds(3));
    auto records = inbox();
    EXPECT_EQ(std::count_if(records.begin(), records.end(), [](MessageRecord const& record) { return record.text.empty() && !record.unread(); }), 1);

    mms.remove(held_before, true);
    ASSERT_TRUE(inbox_holds(2));
    stop_service();
    mms.remove(fetched_now, false);
    start_service();
    ASSERT_TRUE(inbox_holds(1));
    EXPECT_EQ(inbox().front().text, u"Third");
}

TEST_F(MmsFiling, PartsThatCannotBeReadOrKeptAreLeftOutAndMessagesTheUserSentAreNotFiled)
{
    auto damaged = picture_message("Cut short", "+15551234567");
    damaged.attachments[1].length = 1 << 20;
    damaged.attachments[2].file += "\nsecond line";
    mms.store(damaged);
    auto sent = picture_message("Mine", "+15550000000");
    sent.status = "sent";
    mms.store(sent);
    mms.store(picture_message("Whole", "+15551234567"));
    // To the user and two others: the user's own number (the mock's "Modem Number") leaves the group.
    auto group = picture_message("To all of us", "+15551234567");
    group.recipients = { "+15552222222/TYPE=PLMN", "+15550000000", "+15553333333" };
    mms.store(group);
    // Where the MMS service does not know the phone's number, the modem's own numbers stand in.
    modems.add_modem(8);
    mms.set_modem_number("");
    group.recipients = { "+15553333333", "+15550000000/TYPE=PLMN", "+15552222222" };
    mms.store(group);
    start_service();
    ASSERT_TRUE(inbox_holds(4));
    auto records = inbox();
    EXPECT_TRUE(records[0].text.empty());
    EXPECT_TRUE(records[0].parts.empty());
    EXPECT_EQ(records[1].text, u"Whole");
    EXPECT_EQ(records[1].parts.size(), 1u);
    EXPECT_EQ(chat_key_of(records[1]), u"1234567");
    EXPECT_EQ(records[2].members, (std::vector<std::u16string> { u"+15552222222", u"+15553333333" }));
    EXPECT_EQ(chat_key_of(records[2]), u"1234567;2222222;3333333");
    EXPECT_EQ(chat_key_of(records[3]), u"1234567;2222222;3333333");
}

TEST_F(MmsFiling, WhatTheUserReadOrDeletedHereTheMmsServiceIsToldOnceAndWhatWasReadThereIsReadHere)
{
    auto to_read = mms.store(picture_message("Read me", "+15551234567"));
    auto to_delete = mms.store(picture_message("Delete me", "+15557654321"));
    start_service();
    ASSERT_TRUE(inbox_holds(2));
    SmsManager manager;
    for (auto const& record : inbox()) {
        if (record.text == u"Read me")
            ASSERT_TRUE(manager.set_sms_read(record.id, true));
        else
            ASSERT_TRUE(manager.delete_message(FolderKind::Incoming, record));
    }
    ASSERT_TRUE(test::wait_until([&] { return mms.read_marked() == std::vector<std::string> { to_read }; }));
    ASSERT_TRUE(test::wait_until([&] { return mms.held() == std::vector<std::string> { to_read }; }));

    // Read in another program, it is read here too.
    auto read_there = mms.receive(picture_message("Read elsewhere", "+15551234567"));
    ASSERT_TRUE(inbox_holds(2));
    mms.read_by_another(read_there);
    ASSERT_TRUE(test::wait_until([&] {
        auto records = inbox();
        return std::any_of(records.begin(), records.end(), [](MessageRecord const& record) { return record.text == u"Read elsewhere" && !record.unread(); });
    }));

    // Started again, the service files nothing again and tells the MMS service nothing twice.
    stop_service();
    mms.store(picture_message("Later", "+15551234567"));
    start_service();
    ASSERT_TRUE(inbox_holds(3));
    EXPECT_EQ(mms.read_marked(), std::vector<std::string> { to_read });
    auto records = inbox();
    EXPECT_EQ(std::count_if(records.begin(), records.end(), [](MessageRecord const& record) { return record.text == u"Delete me"; }), 0);
}

// The user's MMS goes to the MMS service once, as one message to all its recipients with its text
// and picture, never as text messages; its state follows what the MMS service says of it.
TEST_F(MmsFiling, AnMmsFromTheUserIsHandedToTheMmsServiceOnceAndFollowsItsWord)
{
    std::string photo = test::read_file(VELLOQ_FIXTURES_DIR "/pictures/photo.jpg");
    std::string picture = write_message_file("outgoing.jpg", { photo });
    std::vector<Correspondent> group { { u"", u"+15552222222" }, { u"Ben", u"+15553333333" } };
    start_service();
    SmsManager manager;
    ASSERT_TRUE(manager.send_mms(group, u"For both of you", { { "image/jpeg", 0, photo.size(), picture } }));
    ASSERT_TRUE(test::wait_until([&] { return mms.sent().size() == 1; }));
    auto sent = mms.sent().front();
    EXPECT_EQ(sent.recipients, (std::vector<std::string> { "+15552222222", "+15553333333" }));
    ASSERT_EQ(sent.attachments.size(), 2u);
    EXPECT_EQ(sent.attachments[0], std::make_pair(std::string("text/plain;charset=utf-8"), std::string("For both of you")));
    EXPECT_EQ(sent.attachments[1], std::make_pair(std::string("image/jpeg"), photo));
    EXPECT_TRUE(modems.sent().empty()) << "an MMS never goes as text messages";

    auto outbox_state = [&](platform::SendState state) {
        return test::wait_until([&] {
            MessageRecord record;
            return manager.get_length(FolderKind::Outbox) == 1 && manager.read_sms(manager.get_id(FolderKind::Outbox, 0), record)
                && record.recipient_states == std::vector<platform::SendState>(2, state);
        });
    };
    ASSERT_TRUE(outbox_state(platform::SendState::Sending));
    auto path = mms.held().back();
    mms.send_outcome(path, "sent");
    ASSERT_TRUE(test::wait_until([&] { return manager.get_length(FolderKind::Outbox) == 0 && manager.get_length(FolderKind::Sent) == 1; }));
    MessageRecord record;
    ASSERT_TRUE(manager.read_sms(manager.get_id(FolderKind::Sent, 0), record));
    EXPECT_EQ(chat_key_of(record), u"2222222;3333333");
    EXPECT_EQ(record.send_state(), platform::SendState::Sent);

    // One the service refuses, and one the network could not take, show as not sent and are
    // not sent again by themselves.
    mms.refuse_sending("no MMS settings");
    ASSERT_TRUE(manager.send_mms(group, u"Refused", {}));
    ASSERT_TRUE(outbox_state(platform::SendState::NotSent));
    MessageRecord refused;
    ASSERT_TRUE(manager.read_sms(manager.get_id(FolderKind::Outbox, 0), refused));
    ASSERT_TRUE(manager.delete_message(FolderKind::Outbox, refused));
    mms.refuse_sending("");
    ASSERT_TRUE(manager.send_mms(group, u"Lost on the way", {}));
    ASSERT_TRUE(test::wait_until([&] { return mms.sent().size() == 2; }));
    ASSERT_TRUE(outbox_state(platform::SendState::Sending));
    mms.send_outcome(mms.held().back(), "failed");
    ASSERT_TRUE(outbox_state(platform::SendState::NotSent));
    stop_service();
    start_service();
    ASSERT_TRUE(manager.send_mms(group, u"After a restart", {}));
    ASSERT_TRUE(test::wait_until([&] { return mms.sent().size() >= 3; }));
    EXPECT_EQ(mms.sent().size(), 3u);
    EXPECT_EQ(mms.sent().back().attachments.front().second, "After a restart");

    // The user sends the lost one again: it goes once more.
    MessageRecord lost;
    for (int32_t index = 0; index < manager.get_length(FolderKind::Outbox); ++index) {
        MessageRecord record;
        if (manager.read_sms(manager.get_id(FolderKind::Outbox, index), record) && record.text == u"Lost on the way")
            lost = record;
    }
    lost.folder = FolderKind::Outbox;
    ASSERT_TRUE(manager.retry(lost));
    ASSERT_TRUE(test::wait_until([&] { return mms.sent().size() >= 4; }));
    EXPECT_EQ(mms.sent().back().attachments.front().second, "Lost on the way");
}

// The real program beside the real modem service and the mock MMS service: a group's message, a
// picture, a damaged JPEG, a PNG that claims 60,000×60,000 pixels, and a message another program
// removed. The picture shows in its chat's frame; the two that cannot be shown are said in the
// log and cost nothing; the removed one is nowhere.
TEST_F(MmsFiling, TheProgramShowsWhatTheMmsServiceBrought)
{
    std::string photo = test::read_file(VELLOQ_FIXTURES_DIR "/pictures/landscape.jpg");
    auto with_part = [&](std::string const& sender, std::string const& type, std::string const& bytes) {
        std::string file = write_message_file("part-" + std::to_string(++files), { bytes });
        test::MockMmsService::Message message;
        message.sender = sender;
        message.recipients = { "+15550000000" };
        message.attachments = { { "part", type, file, 0, bytes.size() } };
        return message;
    };
    auto group = picture_message("To all of us", "+15551234567");
    group.recipients = { "+15552222222", "+15550000000", "+15553333333" };
    mms.store(group);
    mms.store(with_part("+15556666666", "image/jpeg", photo));
    mms.store(with_part("+15557777777", "image/jpeg", photo.substr(0, 400)));
    mms.store(with_part("+15557777777", "image/png", test::read_file(VELLOQ_FIXTURES_DIR "/pictures/huge_header.png")));
    start_service();
    ASSERT_TRUE(inbox_holds(4));
    mms.remove(mms.receive(picture_message("Gone at once", "+15558888888")), true);
    ASSERT_TRUE(test::wait_until([&] { return mms.held().size() == 4; }));
    ASSERT_TRUE(inbox_holds(4));

    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto log_file = device.path() / "Temp" / "velloq.txt";
    auto open_chat = [&](std::string const& open, std::filesystem::path const& snapshot) {
        auto environment = test::headless_environment(device.path().string());
        environment.push_back("VELLOQ_SNAPSHOT=" + snapshot.string());
        environment.push_back("VELLOQ_SCREEN=480x800");
        std::filesystem::remove(log_file);
        auto velloq = std::make_unique<test::ChildProcess>(std::vector<std::string> { VELLOQ_PROGRAM_DIR "/velloq", open }, environment);
        // Signalled only once it shows the chat: before, a signal would end it.
        EXPECT_TRUE(test::wait_until([&] { return test::read_utf16_file(log_file).find(u"FormMain::open_chat:") != std::u16string::npos; }));
        return velloq;
    };
    auto orange_share = [](test::RgbPicture const& frame) {
        size_t orange = 0;
        for (size_t at = 0; at + 2 < frame.rgb.size(); at += 3)
            orange += frame.rgb[at] > 220 && frame.rgb[at + 1] > 130 && frame.rgb[at + 1] < 190 && frame.rgb[at + 2] < 60;
        return static_cast<double>(orange) / static_cast<double>(frame.width * frame.height);
    };
    {
        auto snapshot = device.path() / "picture.png";
        auto velloq = open_chat("open:+15556666666", snapshot);
        std::optional<test::RgbPicture> frame;
        // The thumbnail is made on a thread of its own: frames are taken until it shows.
        ASSERT_TRUE(test::wait_until([&] {
            std::filesystem::remove(snapshot);
            velloq->signal(SIGUSR1);
            if (!test::wait_for_file(snapshot))
                return false;
            frame = test::read_png(snapshot.string());
            return frame && orange_share(*frame) > 0.01;
        }));
        velloq->signal(SIGTERM);
        EXPECT_EQ(velloq->wait(), 0);
    }
    {
        auto snapshot = device.path() / "refused.png";
        auto velloq = open_chat("open:+15557777777", snapshot);
        ASSERT_TRUE(test::wait_until([&] {
            std::u16string text = test::read_utf16_file(log_file);
            return text.find(u"part-3 is not shown: ") != std::u16string::npos && text.find(u"part-4 is not shown: ") != std::u16string::npos;
        }));
        velloq->signal(SIGUSR1);
        ASSERT_TRUE(test::wait_for_file(snapshot));
        auto frame = test::read_png(snapshot.string());
        ASSERT_TRUE(frame);
        EXPECT_LT(orange_share(*frame), 0.001) << "nothing of the refused pictures is drawn";
        velloq->signal(SIGTERM);
        EXPECT_EQ(velloq->wait(), 0);
    }
    auto records = inbox();
    EXPECT_EQ(std::count_if(records.begin(), records.end(), [](MessageRecord const& record) { return record.text == u"Gone at once"; }), 0);
    EXPECT_EQ(std::count_if(records.begin(), records.end(), [](MessageRecord const& record) { return chat_key_of(record) == u"1234567;2222222;3333333"; }), 1);
}
