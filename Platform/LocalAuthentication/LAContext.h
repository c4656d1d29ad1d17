#pragma once
// Device-owner authentication on a desktop: the user types their own login
// password, which PAM checks. "Can evaluate" is false when PAM is missing or
// cannot start for the current user. Tests inject a backend and a prompt.
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

// Checks a password for the current user.
class LAAuthenticator {
public:
    virtual ~LAAuthenticator() = default;
    virtual bool isUsable() = 0;
    // Blocking (PAM may sleep after a failure); called off the main thread.
    virtual bool verify(const std::string& password) = 0;
};

// The PAM check, under the service "vostrelle" (PAM falls back to "other"
// when /etc/pam.d has no file of that name).
std::shared_ptr<LAAuthenticator> makePamAuthenticator();

class LAContext {
public:
    enum class Error { None, NotAvailable, UserCancel, AuthenticationFailed };
    using Reply = std::function<void(bool success, Error error)>;

    LAContext();
    // False when no password can be checked on this machine.
    bool canEvaluatePolicy() const;
    // Asks for the password with `reason`, checks it off the main thread and
    // replies on the main thread.
    void evaluatePolicy(const QString& reason, Reply reply, QWidget* parent = nullptr);

    // Test seams: the checker, and the prompt (nullopt: the user cancelled).
    static void setAuthenticatorForTesting(std::shared_ptr<LAAuthenticator> authenticator);
    static void setPromptForTesting(std::function<std::optional<std::string>(const QString& reason)> prompt);

private:
    std::shared_ptr<LAAuthenticator> authenticator_;
};
