// The window's reporter: carries a session's reports to the window thread.
#pragma once
#include <QString>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "config/report.h"
#include "main_window.h"
#include "queued_call.h"

namespace ui {

// Forwards the session thread's reports to the window thread; never touches a
// widget itself.
class QtReport : public config::Reporter {
  public:
    explicit QtReport(MainWindow* dlg) : dlg_(dlg) {}
    void ShowOnlineState(bool online) override {
        Post([d = dlg_, online] { d->ShowOnlineState(online); });
    }
    void ShowStatusMessage(int code, const std::string& text) override {
        Post([d = dlg_, code, t = Q(text)] { d->ShowStatusMessage(code, t); });
    }
    void ShowMessageBox(const std::string& text) override {
        Post([d = dlg_, t = Q(text)] { d->ShowFinalMessage(t); });
    }
    bool AskYesNo(const std::string& question) override {
        if (QThread::currentThread() == dlg_->thread())
            return Hooks().messageBox(dlg_, Q(question), MessageKind::Question);
        // The answer comes back under a lock of our own rather than through a
        // blocking connection, whose wait a race checker cannot see. A question the
        // window drops unasked (it is closing) is answered No.
        auto answer = std::make_shared<Answer>();
        auto teller = std::make_shared<Teller>(answer);
        Post([d = dlg_, q = Q(question), teller] {
            teller->yes = Hooks().messageBox(d, q, MessageKind::Question);
        });
        teller.reset();
        std::unique_lock<std::mutex> lock(answer->mutex);
        answer->ready.wait(lock, [&] { return answer->given; });
        return answer->yes;
    }
    void StatusLine(const std::string& text) override {
        Post([d = dlg_, t = Q(text)] { d->StatusLine(t); });
    }
    void JobReported(const config::JobReport& job) override {
        // A copy: the window reads it on its own thread.
        Post([d = dlg_, job] { d->JobReported(job); });
    }

  private:
    struct Answer {
        std::mutex mutex;
        std::condition_variable ready;
        bool given = false, yes = false;
    };
    // Gives the answer when the last copy of the question goes, asked or not.
    struct Teller {
        explicit Teller(std::shared_ptr<Answer> a) : answer(std::move(a)) {}
        ~Teller() {
            std::lock_guard<std::mutex> lock(answer->mutex);
            answer->yes = yes;
            answer->given = true;
            answer->ready.notify_one();
        }
        std::shared_ptr<Answer> answer;
        bool yes = false;
    };
    static QString Q(const std::string& s) { return QString::fromStdString(s); }
    template <class F> void Post(F f) { PostQueued(dlg_, std::move(f)); }
    MainWindow* dlg_;
};

} // namespace ui
