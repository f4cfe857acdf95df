/*
 * card_control.cpp: the control protocol. A test sends one command line and
 * reads one reply line, "ok ..." or "error ..."; only "log" answers more
 * lines ("ok N" then the N log lines). Commands and their replies are listed
 * in tools/testcard/README.md.
 */
#include "tools/testcard/testcard.h"

#include <chrono>
#include <sstream>

namespace {

/* How long an insert waits for the reader to take the card. The reader
   driver polls about every 0.4 s; an absent reader never answers. */
const auto insert_wait = std::chrono::seconds(5);

std::vector<std::string> control_split(const std::string &line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

std::string control_insert(TestCard &card, const std::vector<std::string> &words) {
    std::string atr_text;
    int mode = -1;
    for (size_t i = 1; i < words.size(); i++) {
        if (words[i] == "t0" || words[i] == "T0")
            mode = 1;
        else if (words[i] == "t1" || words[i] == "T1")
            mode = 0;
        else
            atr_text += words[i];
    }
    std::vector<uint8_t> atr;
    if (!atr_text.empty() &&
        (!card_hex_parse(atr_text, atr) || atr.size() < 2 || atr.size() > CARD_ATR_MAX))
        return "error bad ATR (2 to 33 bytes of hexadecimal)\n";

    std::unique_lock<std::mutex> hold(card.lock);
    if (!atr.empty())
        card.atr = atr;
    if (mode >= 0)
        card.t0_mode = mode == 1;
    card_channels_power(card);
    uint64_t before = card.connects;
    if (card.vpcd_fd >= 0) {
        /* A card already in the reader is taken out and put back, so that
           the reader sees a new card with the new ATR. */
        card.reconnect = true;
        card_vpcd_drop(card);
    }
    card.inserted = true;
    card.changed.notify_all();
    bool seen = card.changed.wait_for(hold, insert_wait, [&] {
        return card.quit || !card.inserted || (card.connects > before && card.powered);
    });
    if (!seen || !card.inserted || card.quit)
        return "error the reader did not take the card (is pcscd running?)\n";
    return "ok\n";
}

std::string control_memory(TestCard &card, const std::vector<std::string> &words) {
    long address = 0, length = 0;
    if (words.size() != 3 || !card_number_parse(words[1], CARD_MEMORY_SIZE, address) ||
        !card_number_parse(words[2], CARD_MEMORY_SIZE, length))
        return "error usage: mem ADDR LEN\n";
    if (address + length > CARD_MEMORY_SIZE)
        return "error past the end of memory\n";
    std::lock_guard<std::mutex> hold(card.lock);
    if (length == 0)
        return "ok\n";
    return "ok " + card_hex(card.memory.data() + address, (size_t)length) + "\n";
}

std::string control_memory_set(TestCard &card, const std::vector<std::string> &words) {
    long address = 0;
    std::string hex;
    for (size_t i = 2; i < words.size(); i++)
        hex += words[i];
    std::vector<uint8_t> bytes;
    if (words.size() < 2 || !card_number_parse(words[1], CARD_MEMORY_SIZE, address) ||
        !card_hex_parse(hex, bytes))
        return "error usage: memset ADDR HEX\n";
    std::lock_guard<std::mutex> hold(card.lock);
    if (!card_memory_write(card, (unsigned)address, bytes.data(), bytes.size()))
        return "error past the end of memory\n";
    return "ok\n";
}

std::string control_force(TestCard &card, const std::vector<std::string> &words) {
    std::vector<uint8_t> sw;
    long count = 0;
    bool all = words.size() == 3 && words[2] == "-1";
    if (words.size() != 3 || !card_hex_parse(words[1], sw) || sw.size() != 2 ||
        (!all && !card_number_parse(words[2], 1000000000, count)))
        return "error usage: force SW1SW2 COUNT (COUNT -1: every command)\n";
    std::lock_guard<std::mutex> hold(card.lock);
    card.forced_sw = sw[0] << 8 | sw[1];
    card.forced_count = all ? -1 : (int)count;
    return "ok\n";
}

std::string control_delay(TestCard &card, const std::vector<std::string> &words) {
    long ms = 0;
    if (words.size() != 2 || !card_number_parse(words[1], 600000, ms))
        return "error usage: delay MS (0 to 600000)\n";
    std::lock_guard<std::mutex> hold(card.lock);
    card.delay_ms = (int)ms;
    return "ok\n";
}

std::string control_log(TestCard &card) {
    std::lock_guard<std::mutex> hold(card.lock);
    std::string reply = "ok " + std::to_string(card.log.size()) + "\n";
    for (const std::string &line : card.log)
        reply += line + "\n";
    return reply;
}

std::string control_status(TestCard &card) {
    std::lock_guard<std::mutex> hold(card.lock);
    std::string reply = card.inserted ? "ok inserted" : "ok removed";
    reply += card.vpcd_fd >= 0 ? " connected" : " unconnected";
    reply += " atr=" + card_hex(card.atr.data(), card.atr.size());
    reply += card.t0_mode ? " mode=t0" : " mode=t1";
    reply += " delay=" + std::to_string(card.delay_ms);
    reply += " force=" + std::to_string(card.forced_count);
    reply += " log=" + std::to_string(card.log.size()) + "\n";
    return reply;
}

std::string control_simple(TestCard &card, const std::string &command, bool &close) {
    std::lock_guard<std::mutex> hold(card.lock);
    if (command == "remove") {
        card.inserted = false;
        card_vpcd_drop(card);
        card.changed.notify_all();
    } else if (command == "reset") {
        card_state_reset(card);
    } else if (command == "clearlog") {
        card.log.clear();
    } else if (command == "quit") {
        close = true;
        return "ok bye\n";
    } else if (command == "shutdown") {
        card.quit = true;
        card_vpcd_drop(card);
        card.changed.notify_all();
        close = true;
        return "ok bye\n";
    }
    return "ok\n";
}

/* The commands that take arguments of their own, by their first word */
struct ControlCommand {
    const char *name;
    std::string (*handler)(TestCard &card, const std::vector<std::string> &words);
};
const ControlCommand control_commands[] = {
    {"insert", control_insert}, {"mem", control_memory},  {"memset", control_memory_set},
    {"force", control_force},   {"delay", control_delay},
};

} // namespace

std::string card_control_line(TestCard &card, const std::string &line, bool &close) {
    close = false;
    std::vector<std::string> words = control_split(line);
    if (words.empty())
        return "error empty command\n";
    const std::string &command = words[0];
    for (const ControlCommand &entry : control_commands)
        if (command == entry.name)
            return entry.handler(card, words);
    if (card_sd_control_known(command)) {
        std::lock_guard<std::mutex> hold(card.lock);
        return card_sd_control(card.sd, words);
    }
    if (words.size() != 1)
        return "error " + command + " takes no argument\n";
    if (command == "log")
        return control_log(card);
    if (command == "channels") {
        std::lock_guard<std::mutex> hold(card.lock);
        return card_channels_report(card);
    }
    if (command == "status")
        return control_status(card);
    if (command == "help")
        return "ok insert [ATR] [t0|t1], remove, reset, log, clearlog, mem ADDR LEN, "
               "memset ADDR HEX, delay MS, force SW1SW2 COUNT, status, quit, shutdown, "
               "scp [02 15|55 or 03 HH] (SCP02 also 05 07 17 45 ...), keys KEY|ENC MAC DEK [KVN], "
               "kdd HEX, seq N, challenge HEX|off, channels, content [clear]\n";
    if (command == "remove" || command == "reset" || command == "clearlog" || command == "quit" ||
        command == "shutdown")
        return control_simple(card, command, close);
    return "error unknown command " + command + "\n";
}
