// Threads and the clock. Every thread the program creates runs through a wrapper that knows its
// role (the first is the UI thread, the second the worker) and can end it: the worker is ended
// by jumping back into the wrapper, which then returns normally, so no forced unwinding runs
// through the program's code. Every sleep is logged; the UI thread's sleeps are frames (the
// screen is copied and the sleep shortened), the worker's may block until enough frames passed.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>

#include "tests/double/device_double.h"

namespace {

enum class role { main, ui, worker, other };

const char* role_name(role r) {
    switch (r) {
        case role::main:
            return "main";
        case role::ui:
            return "ui";
        case role::worker:
            return "worker";
        case role::other:
            break;
    }
    return "other";
}

struct start_record {
    void* (*start)(void*);
    void* arg;
    role who;
};

thread_local role t_role = role::main;
thread_local jmp_buf* t_end_point = nullptr;  // where the worker is sent to end

std::atomic<int> g_created{0};

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_frame_passed = PTHREAD_COND_INITIALIZER;
long g_frames = 0;
// The worker has printed its start line and gone idle (its first sleep was asked for).
std::atomic<bool> g_worker_idle{false};

// Roles of the threads created and not yet joined.
constexpr int kMaxThreads = 16;
struct known_thread {
    pthread_t id;
    role who;
    bool used;
};
known_thread g_threads[kMaxThreads];

void remember(pthread_t id, role who) {
    pthread_mutex_lock(&g_lock);
    for (known_thread& t : g_threads) {
        if (!t.used) {
            t = known_thread{id, who, true};
            break;
        }
    }
    pthread_mutex_unlock(&g_lock);
}

role forget(pthread_t id) {
    role who = role::other;
    pthread_mutex_lock(&g_lock);
    for (known_thread& t : g_threads) {
        if (t.used && pthread_equal(t.id, id) != 0) {
            who = t.who;
            t.used = false;
            break;
        }
    }
    pthread_mutex_unlock(&g_lock);
    return who;
}

void* run_thread(void* p) {
    const start_record record = *static_cast<start_record*>(p);
    delete static_cast<start_record*>(p);
    t_role = record.who;
    jmp_buf end_point;
    if (setjmp(end_point) != 0) {
        t_end_point = nullptr;
        double_log("thread %s ended by the double", role_name(record.who));
        return nullptr;
    }
    t_end_point = &end_point;
    // The thread's own identifier, for checking what the program prints as it.
    double_log("thread %s id=%lu", role_name(record.who),
               static_cast<unsigned long>(pthread_self()));
    void* result = record.start(record.arg);
    t_end_point = nullptr;
    return result;
}

bool fail_requested(int number) {
    const std::string& fail = double_settings().fail;
    return (number == 1 && fail == "thread1") || (number == 2 && fail == "thread2");
}

// Only the UI thread calls this. The frame counts as passed, for a worker waiting to be ended,
// once it is saved and logged: counting it earlier let the worker end before "frame N".
void frame_sleep() {
    pthread_mutex_lock(&g_lock);
    const long frame = g_frames + 1;
    pthread_mutex_unlock(&g_lock);
    const std::string& dir = double_settings().frames_dir;
    if (!dir.empty()) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame-%03ld.raw", frame);
        if (!double_save_screen((dir + name).c_str())) {
            double_log("frame %ld not saved", frame);
        }
    }
    double_log("frame %ld", frame);
    const long kill_after = double_settings().kill_after;
    if (kill_after >= 0 && frame >= kill_after && g_worker_idle.load()) {
        // The device's way of ending the program: stopped from outside, with no exit path run.
        double_log("killed by the double");
        kill(getpid(), SIGKILL);
    }
    pthread_mutex_lock(&g_lock);
    g_frames = frame;
    pthread_cond_broadcast(&g_frame_passed);
    pthread_mutex_unlock(&g_lock);
}

[[noreturn]] void end_worker(long after_frames) {
    pthread_mutex_lock(&g_lock);
    while (g_frames < after_frames) {
        pthread_cond_wait(&g_frame_passed, &g_lock);
    }
    pthread_mutex_unlock(&g_lock);
    std::longjmp(*t_end_point, 1);
}

}  // namespace

extern "C" {

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* arg) DOUBLE_NOTHROW {
    const auto real = DOUBLE_REAL(pthread_create);
    const int number = ++g_created;
    const role who = number == 1 ? role::ui : number == 2 ? role::worker : role::other;
    if (fail_requested(number)) {
        double_log("pthread_create %s failed (injected)", role_name(who));
        return EAGAIN;
    }
    double_log("pthread_create %s", role_name(who));
    auto* record = new (std::nothrow) start_record{start, arg, who};
    if (record == nullptr) {
        double_log("pthread_create %s failed (no memory)", role_name(who));
        return EAGAIN;
    }
    const int result = real(thread, attr, run_thread, record);
    if (result != 0) {
        delete record;
        double_log("pthread_create %s failed (%s)", role_name(who), std::strerror(result));
        return result;
    }
    remember(*thread, who);
    return 0;
}

int pthread_join(pthread_t thread, void** result) {
    const auto real = DOUBLE_REAL(pthread_join);
    const int status = real(thread, result);
    if (status == 0) {
        double_log("pthread_join %s", role_name(forget(thread)));
    }
    return status;
}

int usleep(useconds_t us) {
    const auto real = DOUBLE_REAL(usleep);
    const double_config& c = double_settings();
    double_log("usleep %s %lu", role_name(t_role), static_cast<unsigned long>(us));
    if (t_role == role::ui) {
        frame_sleep();
        return real(c.frame_us);
    }
    if (t_role == role::worker) {
        g_worker_idle.store(true);
    }
    if (t_role == role::worker && c.end_after >= 0 && t_end_point != nullptr) {
        end_worker(c.end_after);
    }
    return real(us);
}

}  // extern "C"
