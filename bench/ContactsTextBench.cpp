// Two paths that must stay linear in their input: reading the phone's contacts (100,000 cards,
// against reading the same files' bytes alone) and finding the links and numbers of a 1 MB
// message with 60,000 numbers (against one pass over its characters), with the chat of that
// message opened to its first frame.
#include "BenchDevice.h"
#include "HeadlessChatList.h"
#include "forms/FormChat.h"
#include "forms/FormMain.h"
#include "messaging/ChatModel.h"
#include "messaging/TextAnalysis.h"
#include "platform/MessageStore.h"
#include "platform/Utf.h"
#include "shell/Application.h"
#include "skin/ElementRegistry.h"
#include "skin/FormStack.h"
#include "skin/Properties.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace velloq;

namespace {

using Clock = std::chrono::steady_clock;

double milliseconds_since(Clock::time_point started)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

constexpr int cards_per_file = 100;

std::string write_cards(int count)
{
    std::string folder = bench::bench_device() + "/contacts";
    std::filesystem::create_directories(folder);
    for (int file = 0; file < count / cards_per_file; ++file) {
        std::ofstream out(folder + "/book-" + std::to_string(file) + ".vcf", std::ios::binary);
        for (int card = 0; card < cards_per_file; ++card) {
            int n = file * cards_per_file + card;
            out << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Family" << n << ";Given" << n << ";;;\r\nFN:Given" << n << " Family" << n
                << "\r\nTEL;TYPE=CELL:+49 151 " << 1000000 + n << "\r\nTEL;TYPE=HOME:+49 30 " << 5000000 + n << "\r\nEND:VCARD\r\n";
        }
    }
    return folder;
}

void BM_ReadOneHundredThousandContacts(benchmark::State& state)
{
    std::string folder = write_cards(100000);
    for (auto _ : state) {
        auto plain = Clock::now();
        size_t bytes = 0;
        for (auto const& entry : std::filesystem::directory_iterator(folder)) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            bytes += text.size();
        }
        double plain_ms = milliseconds_since(plain);
        benchmark::DoNotOptimize(bytes);
        ChatModel model({ to_utf16(bench::bench_device()) + u"/cache", u"/bin/true", folder, std::string() });
        auto started = Clock::now();
        model.assign_contacts();
        double read_ms = milliseconds_since(started);
        state.counters["read_ms"] = read_ms;
        state.counters["plain_read_ms"] = plain_ms;
        state.counters["vs_plain_read"] = read_ms / plain_ms;
        state.counters["entries"] = static_cast<double>(model.phone_book().entries().size());
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ReadOneHundredThousandContacts)->Unit(benchmark::kMillisecond)->Iterations(1);

// An address book of 20,000 contacts as the contacts service mirrors it: one file per contact, as
// Evolution Data Server writes the card (its own parameters, REV, a photo by URI), against the
// 100,000 cards in 1,000 files above, read in the same run.
std::string write_mirrored_cards(int count)
{
    std::string folder = bench::bench_device() + "/contacts";
    std::filesystem::create_directories(folder);
    for (int n = 0; n < count; ++n) {
        std::ofstream out(folder + "/eds-999-system%2Daddress%2Dbook-fill%2D" + std::to_string(n) + ".vcf", std::ios::binary);
        out << "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:fill-" << n << "\r\nFN:Мария " << n << "\r\nN:;Мария " << n
            << ";;;\r\nTEL;X-EVOLUTION-E164=151" << 1000000 + n << ",\"+49\";TYPE=CELL:+49151" << 1000000 + n
            << "\r\nTEL;TYPE=HOME:+4930" << 5000000 + n << "\r\nPHOTO;VALUE=uri:file:///home/user/.local/share/evolution/addressbook/system/photos/fill_"
            << n << "_photo-file0.image-2FJPEG\r\nREV:2026-12-09T15:01:12Z\r\nEND:VCARD\r\n";
    }
    return folder;
}

double contacts_step_ms(std::string const& folder)
{
    ChatModel model({ to_utf16(bench::bench_device()) + u"/cache", u"/bin/true", folder, std::string() });
    auto started = Clock::now();
    model.assign_contacts();
    double read_ms = milliseconds_since(started);
    benchmark::DoNotOptimize(model.phone_book().entries().size());
    return read_ms;
}

void BM_ReadTwentyThousandMirroredContacts(benchmark::State& state)
{
    for (auto _ : state) {
        std::string folder = write_cards(100000);
        double hundred_thousand_ms = contacts_step_ms(folder);
        std::filesystem::remove_all(folder);
        folder = write_mirrored_cards(20000);
        double mirrored_ms = contacts_step_ms(folder);
        std::filesystem::remove_all(folder);
        state.counters["mirrored_20k_ms"] = mirrored_ms;
        state.counters["cards_100k_ms"] = hundred_thousand_ms;
        state.counters["vs_100k_cards"] = mirrored_ms / hundred_thousand_ms;
    }
}
BENCHMARK(BM_ReadTwentyThousandMirroredContacts)->Unit(benchmark::kMillisecond)->Iterations(1);

std::u16string megabyte_of_numbers()
{
    std::u16string text;
    for (int n = 0; text.size() < 1'000'000; ++n)
        text += u"call +7 916 " + to_u16_decimal(1000000 + n) + u" now ";
    return text;
}

void BM_FindItemsInAMegabyte(benchmark::State& state)
{
    std::u16string text = megabyte_of_numbers();
    size_t found = 0;
    double plain_ms = 0;
    double find_ms = 0;
    for (auto _ : state) {
        auto plain = Clock::now();
        size_t digits = 0;
        for (char16_t c : text)
            digits += (c >= u'0' && c <= u'9') ? 1 : 0;
        benchmark::DoNotOptimize(digits);
        plain_ms = milliseconds_since(plain);
        auto started = Clock::now();
        found = find_items(text).size();
        find_ms = milliseconds_since(started);
    }
    state.counters["find_ms"] = find_ms;
    state.counters["one_pass_ms"] = plain_ms;
    state.counters["items"] = static_cast<double>(found);
}
BENCHMARK(BM_FindItemsInAMegabyte)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OpenTheChatOfAMegabyteMessage(benchmark::State& state)
{
    bench::bench_device();
    std::string error;
    auto store = platform::MessageStore::open_device(error);
    auto inbox = store ? store->folder(platform::Tag::InboxEntryId).as_optional() : std::nullopt;
    platform::StoredMessage message;
    message.properties = { { platform::Tag::Subject, megabyte_of_numbers() }, { platform::Tag::MessageFlags, int64_t(1) },
        { platform::Tag::DeliveryTime, MessageTime::now().filetime() }, { platform::Tag::SenderName, std::u16string() },
        { platform::Tag::SenderAddress, std::u16string(u"+4915100000042") }, { platform::Tag::MessageClass, std::u16string(u"IPM.SMStext") } };
    if (!inbox || !store->create_message(*inbox, message, false)) {
        state.SkipWithError("the store could not take the message");
        return;
    }
    bench::HeadlessChatList program;
    Chat const* found = program.model().find_chat(u"0000042");
    if (!program.ready() || !found) {
        state.SkipWithError("no main skin, or the message made no chat");
        return;
    }
    for (auto _ : state) {
        auto opened = Clock::now();
        program.open_chat(*found);
        state.counters["open_ms"] = milliseconds_since(opened);
    }
}
BENCHMARK(BM_OpenTheChatOfAMegabyteMessage)->Unit(benchmark::kMillisecond)->Iterations(1);

}

BENCHMARK_MAIN();
