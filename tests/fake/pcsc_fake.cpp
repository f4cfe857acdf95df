/*
 * pcsc_fake.cpp: the fake PC/SC provider (see pcsc_fake.h). Everything
 * lives in one table under one mutex, the provider's self; a
 * condition variable wakes the wait for a change when a reader, a card or
 * the service changes. Contexts and handles are numbers that are never
 * given out twice, so one kept from before a reset or a service stop is
 * found invalid, as the platform finds it.
 *
 * A transmit sleeps its answer's delay through platform_sleep_ms with the
 * mutex left, so a slow answer holds up no other reader and a fake clock
 * (tests/fake/platform_fake.cpp) sees the time pass. The wait for a change
 * is a real one on the condition variable.
 */
#include "tests/fake/pcsc_fake.h"

#include <string.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace {

/* The name that reports changes of the reader list, as the platform's */
const char fake_pnp_name[] = "\\\\?PnP?\\Notification";

struct FakeReader {
    std::string name;
    bool listed = true;      /* false once removed */
    bool card = false;       /* a card is in */
    unsigned insertions = 0; /* cards put in so far; a connection belongs to one */
    std::vector<uint8_t> atr;
    DWORD protocol = SCARD_PROTOCOL_T1;
    LONG state_status = SCARD_S_SUCCESS; /* the state query fails with it, when set */
    std::deque<FakeAnswer> queue;
    FakeAnswer fallback = fake_pattern(0);
    std::vector<std::vector<uint8_t>> commands;
};

struct FakeHandle {
    int reader;
    unsigned insertion; /* the card it was made for */
    SCARDCONTEXT context;
};

struct FakePcsc {
    std::mutex lock;
    std::condition_variable changed; /* notified at every change of the table */
    std::vector<FakeReader> readers;
    std::set<SCARDCONTEXT> contexts;
    std::map<SCARDHANDLE, FakeHandle> handles;
    long next_id = 0x100;
    bool running = true;
    LONG stop_code = SCARD_E_NO_SERVICE;
    unsigned list_changes = 0; /* readers added or removed */
};

FakePcsc fake_table;

FakePcsc &fake(void) {
    return fake_table;
}

/* The calls below hold fake().lock. */
LONG fake_context_check(const FakePcsc &f, SCARDCONTEXT context) {
    if (!f.running)
        return f.stop_code;
    return f.contexts.count(context) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

/* The reader of a live connection to a card that is still there. */
LONG fake_handle_check(FakePcsc &f, SCARDHANDLE handle, FakeReader **reader) {
    if (!f.running)
        return f.stop_code;
    auto found = f.handles.find(handle);
    if (found == f.handles.end() || !f.contexts.count(found->second.context))
        return SCARD_E_INVALID_HANDLE;
    *reader = &f.readers[(size_t)found->second.reader];
    if (!(*reader)->listed)
        return SCARD_E_READER_UNAVAILABLE;
    if (!(*reader)->card || (*reader)->insertions != found->second.insertion)
        return SCARD_W_REMOVED_CARD;
    return SCARD_S_SUCCESS;
}

FakeReader *fake_reader_named(FakePcsc &f, const char *name) {
    for (FakeReader &reader : f.readers) {
        if (reader.listed && reader.name == name)
            return &reader;
    }
    return nullptr;
}

/* The event state of one entry. The high word counts events (reader list
   changes for the notification name, insertions for a reader). A change is
   a differing state, or a differing count where the caller gave one; the
   notification name's count is always compared. */
bool fake_state_read(FakePcsc &f, SCARD_READERSTATEA *state) {
    DWORD event = SCARD_STATE_UNKNOWN;
    bool pnp = state->szReader && strcmp(state->szReader, fake_pnp_name) == 0;
    FakeReader *reader = pnp || !state->szReader ? nullptr : fake_reader_named(f, state->szReader);

    if (pnp)
        event = (DWORD)(f.list_changes & 0xFFFF) << 16;
    else if (reader)
        event = (DWORD)(reader->insertions & 0xFFFF) << 16 |
                (reader->card ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY);
    DWORD current = state->dwCurrentState & ~(DWORD)SCARD_STATE_CHANGED;
    bool count_given = pnp || (current >> 16) != 0;
    bool differs =
        (current & 0xFFFF) != (event & 0xFFFF) || (count_given && (current >> 16) != (event >> 16));
    state->dwEventState = differs ? event | SCARD_STATE_CHANGED : event;
    return differs;
}

bool fake_states_read(FakePcsc &f, SCARD_READERSTATEA *states, DWORD count) {
    bool any = false;

    for (DWORD i = 0; i < count; i++) {
        if (states[i].dwCurrentState & SCARD_STATE_IGNORE)
            continue;
        any = fake_state_read(f, &states[i]) || any;
    }
    return any;
}

} // namespace

/* Runs change on the table under its lock and wakes the calls that wait. */
template <class Change> void fake_change(Change change) {
    FakePcsc &f = fake();
    std::lock_guard<std::mutex> hold(f.lock);
    change(f);
    f.changed.notify_all();
}

void fake_pcsc_reset(void) {
    fake_change([](FakePcsc &f) {
        f.readers.clear();
        f.contexts.clear();
        f.handles.clear();
        f.running = true;
        f.list_changes = 0;
    });
}

int fake_reader_add(const char *name) {
    int index = 0;
    fake_change([&](FakePcsc &f) {
        f.readers.emplace_back();
        f.readers.back().name = name;
        f.list_changes++;
        index = (int)f.readers.size() - 1;
    });
    return index;
}

void fake_reader_remove(int reader) {
    fake_change([&](FakePcsc &f) {
        f.readers.at((size_t)reader).listed = false;
        f.readers.at((size_t)reader).card = false;
        f.list_changes++;
    });
}

void fake_card_insert(int reader, const std::vector<uint8_t> &atr, DWORD protocol) {
    fake_change([&](FakePcsc &f) {
        FakeReader &r = f.readers.at((size_t)reader);
        r.card = true;
        r.insertions++;
        r.atr = atr;
        r.protocol = protocol;
    });
}

void fake_card_remove(int reader) {
    fake_change([&](FakePcsc &f) { f.readers.at((size_t)reader).card = false; });
}

void fake_state_fail(int reader, LONG status) {
    fake_change([&](FakePcsc &f) { f.readers.at((size_t)reader).state_status = status; });
}

void fake_answer_push(int reader, const FakeAnswer &answer) {
    fake_change([&](FakePcsc &f) { f.readers.at((size_t)reader).queue.push_back(answer); });
}

void fake_answer_default(int reader, const FakeAnswer &answer) {
    fake_change([&](FakePcsc &f) { f.readers.at((size_t)reader).fallback = answer; });
}

FakeAnswer fake_pattern(size_t data_length, unsigned sw) {
    FakeAnswer answer;
    answer.bytes.resize(data_length + 2);
    for (size_t i = 0; i < data_length; i++)
        answer.bytes[i] = (uint8_t)(i % 256);
    answer.bytes[data_length] = (uint8_t)(sw >> 8);
    answer.bytes[data_length + 1] = (uint8_t)sw;
    return answer;
}

std::vector<std::vector<uint8_t>> fake_commands(int reader) {
    std::vector<std::vector<uint8_t>> commands;
    fake_change([&](FakePcsc &f) { commands = f.readers.at((size_t)reader).commands; });
    return commands;
}

void fake_service_stop(LONG code) {
    fake_change([&](FakePcsc &f) {
        f.running = false;
        f.stop_code = code;
        f.contexts.clear();
        f.handles.clear();
    });
}

void fake_service_start(void) {
    fake_change([](FakePcsc &f) { f.running = true; });
}

/* The provider's calls; self is the table. */

namespace {

LONG fake_establish(void *self, DWORD, SCARDCONTEXT *context) {
    FakePcsc &f = *(FakePcsc *)self;
    std::lock_guard<std::mutex> hold(f.lock);
    if (!f.running)
        return f.stop_code;
    *context = (SCARDCONTEXT)f.next_id++;
    f.contexts.insert(*context);
    return SCARD_S_SUCCESS;
}

/* The context's connections end with it. */
LONG fake_release(void *self, SCARDCONTEXT context) {
    FakePcsc &f = *(FakePcsc *)self;
    std::lock_guard<std::mutex> hold(f.lock);
    LONG status = fake_context_check(f, context);
    if (status != SCARD_S_SUCCESS)
        return status;
    f.contexts.erase(context);
    for (auto at = f.handles.begin(); at != f.handles.end();)
        at = at->second.context == context ? f.handles.erase(at) : std::next(at);
    return SCARD_S_SUCCESS;
}

LONG fake_list_readers(void *self, SCARDCONTEXT context, char *names, DWORD *length) {
    FakePcsc &f = *(FakePcsc *)self;
    std::lock_guard<std::mutex> hold(f.lock);
    std::string list;
    LONG status = fake_context_check(f, context);

    if (status != SCARD_S_SUCCESS)
        return status;
    for (const FakeReader &reader : f.readers) {
        if (reader.listed)
            list += reader.name + '\0';
    }
    if (list.empty())
        return SCARD_E_NO_READERS_AVAILABLE;
    list += '\0';
    DWORD size = *length;
    *length = (DWORD)list.size();
    if (!names)
        return SCARD_S_SUCCESS;
    if (size < list.size())
        return SCARD_E_INSUFFICIENT_BUFFER;
    memcpy(names, list.data(), list.size());
    return SCARD_S_SUCCESS;
}

/* Answers at once when an entry differs from what the caller knows, else
   when a change makes one differ, or with SCARD_E_TIMEOUT at the end of
   the wait; a service stop ends the wait with the stop code. */
LONG fake_get_status_change(void *self, SCARDCONTEXT context, DWORD timeout_ms,
                            SCARD_READERSTATEA *states, DWORD count) {
    FakePcsc &f = *(FakePcsc *)self;
    std::unique_lock<std::mutex> hold(f.lock);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    bool waited_out = false;

    if (count > 0 && !states)
        return SCARD_E_INVALID_PARAMETER;
    for (;;) {
        LONG status = fake_context_check(f, context);
        if (status != SCARD_S_SUCCESS)
            return status;
        if (fake_states_read(f, states, count))
            return SCARD_S_SUCCESS;
        if (waited_out)
            return SCARD_E_TIMEOUT;
        waited_out = f.changed.wait_until(hold, deadline) == std::cv_status::timeout;
    }
}

LONG fake_connect(void *self, SCARDCONTEXT context, const char *reader, DWORD protocols,
                  SCARDHANDLE *handle, DWORD *protocol) {
    FakePcsc &f = *(FakePcsc *)self;
    std::lock_guard<std::mutex> hold(f.lock);
    LONG status = fake_context_check(f, context);

    if (status != SCARD_S_SUCCESS)
        return status;
    FakeReader *named = reader ? fake_reader_named(f, reader) : nullptr;
    if (!named)
        return SCARD_E_UNKNOWN_READER;
    if (!named->card)
        return SCARD_E_NO_SMARTCARD;
    if (!(protocols & named->protocol))
        return SCARD_E_PROTO_MISMATCH;
    *handle = (SCARDHANDLE)f.next_id++;
    f.handles[*handle] = FakeHandle{(int)(named - f.readers.data()), named->insertions, context};
    *protocol = named->protocol;
    return SCARD_S_SUCCESS;
}

LONG fake_disconnect(void *self, SCARDHANDLE handle) {
    FakePcsc &f = *(FakePcsc *)self;
    std::lock_guard<std::mutex> hold(f.lock);
    if (!f.running)
        return f.stop_code;
    return f.handles.erase(handle) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

/* A card taken out since the connection reads as absent; a failed query
   leaves *atr_length as it was. */
LONG fake_state(void *self, SCARDHANDLE handle, DWORD *state, DWORD *protocol, unsigned char *atr,
                DWORD *atr_length) {
    FakePcsc &f = *(FakePcsc *)self;
    std::lock_guard<std::mutex> hold(f.lock);
    FakeReader *reader = nullptr;
    LONG status = fake_handle_check(f, handle, &reader);

    *state = status == SCARD_W_REMOVED_CARD ? PCSC_STATE_ABSENT : 0;
    if (status == SCARD_S_SUCCESS && reader->state_status != SCARD_S_SUCCESS) {
        /* What a caller then finds in its buffer is not an ATR: scribble
           on it, so a caller that keeps it shows. */
        memset(atr, 0xA5, *atr_length);
        return reader->state_status;
    }
    if (status != SCARD_S_SUCCESS)
        return status;
    if (*atr_length < reader->atr.size())
        return SCARD_E_INSUFFICIENT_BUFFER;
    if (!reader->atr.empty())
        memcpy(atr, reader->atr.data(), reader->atr.size());
    *atr_length = (DWORD)reader->atr.size();
    *state = FAKE_STATE_SPECIFIC;
    *protocol = reader->protocol;
    return SCARD_S_SUCCESS;
}

/* The next answer, whatever the command; an answer longer than the room
   fails as the platform's does, telling the length it needed. */
LONG fake_transmit(void *self, SCARDHANDLE handle, DWORD protocol, const unsigned char *command,
                   DWORD length, unsigned char *response, DWORD *response_length) {
    FakePcsc &f = *(FakePcsc *)self;
    std::unique_lock<std::mutex> hold(f.lock);
    FakeReader *reader = nullptr;
    LONG status = fake_handle_check(f, handle, &reader);

    if (status != SCARD_S_SUCCESS)
        return status;
    if (!command || !response || !response_length)
        return SCARD_E_INVALID_PARAMETER;
    if ((protocol == SCARD_PROTOCOL_T1) != (reader->protocol == SCARD_PROTOCOL_T1))
        return SCARD_E_PROTO_MISMATCH;
    reader->commands.emplace_back(command, command + length);
    FakeAnswer answer = reader->fallback;
    if (!reader->queue.empty()) {
        answer = reader->queue.front();
        reader->queue.pop_front();
    }
    hold.unlock();
    platform_sleep_ms(answer.delay_ms);
    if (answer.status != SCARD_S_SUCCESS)
        return answer.status;
    DWORD room = *response_length;
    *response_length = (DWORD)answer.bytes.size();
    if (room < answer.bytes.size())
        return SCARD_E_INSUFFICIENT_BUFFER;
    if (!answer.bytes.empty())
        memcpy(response, answer.bytes.data(), answer.bytes.size());
    if (answer.then)
        answer.then(answer.then_context);
    return SCARD_S_SUCCESS;
}

/* The fake readers report no attributes, as the rig's virtual readers
   report few. */
LONG fake_get_attrib(void *self, SCARDHANDLE handle, DWORD, unsigned char *, DWORD *) {
    FakePcsc &f = *(FakePcsc *)self;
    std::lock_guard<std::mutex> hold(f.lock);
    FakeReader *reader = nullptr;
    LONG status = fake_handle_check(f, handle, &reader);
    return status != SCARD_S_SUCCESS ? status : SCARD_E_UNSUPPORTED_FEATURE;
}

} // namespace

const PcscProvider pcsc_platform = {
    &fake_table,  fake_establish,  fake_release, fake_list_readers, fake_get_status_change,
    fake_connect, fake_disconnect, fake_state,   fake_transmit,     fake_get_attrib,
    nullptr,      nullptr,
};
