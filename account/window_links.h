#pragma once
// How the account answers reach the windows. The answers arrive on transport
// threads; each operation here only queues its effect for the window's own
// (UI) thread and returns at once, so it may be called from any thread and
// while the account service holds its lock. The windows implement these with
// the toolkit's asynchronous notifications.
#include <string>

namespace quillora {

// Notification names of the windows' tables.
inline constexpr char kNotifyRefreshUserInfo[] = "refreshuserinfo";  // main window, root control
inline constexpr char kNotifyCheckLogin[] = "checklogin";            // login window, browser button
inline constexpr char kNotifyCheckErrInfo[] = "checkerrinfo";        // login window, error text
inline constexpr char kNotifyNotSave[] = "notsave";                  // login window, captcha mode
inline constexpr char kNotifyStopRefreshTimer[] = "stoprefreshtimer";  // login window, SMS countdown

// Modal results of the login window.
inline constexpr int kLogonClosedSignedIn = 12343;
inline constexpr int kLogonClosedBound = 24345;

enum class BrowserSignIn { WeChat, QQ };

// Which error label of the login window: the sign-in page's or the bind page's.
enum class ErrorArea { SignIn, Bind };

class LoginWindowLink {
 public:
  virtual ~LoginWindowLink() = default;
  // The browser page was opened with `tag`: keep it and start polling
  // ("checklogin" on that sign-in's button).
  virtual void StartPolling(BrowserSignIn which, const std::string& tag) = 0;
  // "checkerrinfo": show `text` (UTF-8) in `area`.
  virtual void ShowError(ErrorArea area, const std::string& text) = 0;
  // "notsave": the service asks for a picture captcha.
  virtual void EnterCaptchaMode() = 0;
  // "stoprefreshtimer": release the SMS button.
  virtual void StopSmsCountdown() = 0;
  // Stop both browser polls.
  virtual void StopPollTimers() = 0;
  // New captcha picture file: user value 1 for the sign-in page, any other
  // for the bind page.
  virtual void SetCaptchaPicture(int userValue, const std::string& path) = 0;
  // End the modal loop with `code`.
  virtual void CloseWithCode(int code) = 0;
};

class MainWindowLink {
 public:
  virtual ~MainWindowLink() = default;
  // "refreshuserinfo" on the root control: show the session's user again.
  virtual void RefreshUserInfo() = 0;
};

}  // namespace quillora
