#include "LocalAuthentication/LAContext.h"

#include <pwd.h>
#include <unistd.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <cstring>

#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"

#ifdef VOSTRELLE_HAVE_PAM
#include <security/pam_appl.h>
#endif

namespace {

std::shared_ptr<LAAuthenticator> gTestAuthenticator;
std::function<std::optional<std::string>(const QString&)> gTestPrompt;

std::string currentUser() {
    struct passwd pw {};
    struct passwd* result = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &result) != 0 || !result) return {};
    return pw.pw_name;
}

#ifdef VOSTRELLE_HAVE_PAM
// Answers PAM's password prompts with the typed password, nothing else.
int conversation(int count, const struct pam_message** messages, struct pam_response** responses, void* data) {
    const auto* password = static_cast<const std::string*>(data);
    auto* replies = static_cast<struct pam_response*>(calloc(count, sizeof(struct pam_response)));
    if (!replies) return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF || messages[i]->msg_style == PAM_PROMPT_ECHO_ON) {
            replies[i].resp = strdup(password->c_str());
            if (!replies[i].resp) {
                for (int j = 0; j < i; ++j) free(replies[j].resp);
                free(replies);
                return PAM_BUF_ERR;
            }
        }
    }
    *responses = replies;
    return PAM_SUCCESS;
}

class PamAuthenticator : public LAAuthenticator {
public:
    bool isUsable() override {
        const std::string user = currentUser();
        if (user.empty()) return false;
        std::string none;
        struct pam_conv conv {conversation, &none};
        pam_handle_t* handle = nullptr;
        const int rc = pam_start("vostrelle", user.c_str(), &conv, &handle);
        if (handle) pam_end(handle, rc);
        return rc == PAM_SUCCESS;
    }
    bool verify(const std::string& password) override {
        const std::string user = currentUser();
        if (user.empty()) return false;
        struct pam_conv conv {conversation, const_cast<std::string*>(&password)};
        pam_handle_t* handle = nullptr;
        int rc = pam_start("vostrelle", user.c_str(), &conv, &handle);
        if (rc == PAM_SUCCESS) rc = pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
        if (rc == PAM_SUCCESS) rc = pam_acct_mgmt(handle, PAM_SILENT);
        if (handle) pam_end(handle, rc);
        if (rc != PAM_SUCCESS) ZMLOG("authentication failed: {}", rc);
        return rc == PAM_SUCCESS;
    }
};
#endif

// Asks for the password without a nested event loop; `done` gets nullopt
// when the user cancels.
void askPassword(const QString& reason, QWidget* parent, std::function<void(std::optional<std::string>)> done) {
    if (gTestPrompt) {
        done(gTestPrompt(reason));
        return;
    }
    auto* dialog = new QDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setWindowTitle(QString::fromStdString(ZMLocalizedString("Authentication")));
    auto* layout = new QVBoxLayout(dialog);
    auto* label = new QLabel(reason, dialog);
    label->setWordWrap(true);
    auto* field = new QLineEdit(dialog);
    field->setEchoMode(QLineEdit::Password);
    field->setPlaceholderText(QString::fromStdString(ZMLocalizedString("Password")));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(label);
    layout->addWidget(field);
    layout->addWidget(buttons);
    auto answered = std::make_shared<bool>(false);
    QObject::connect(dialog, &QDialog::finished, dialog, [field, done, answered](int result) {
        if (*answered) return;
        *answered = true;
        if (result == QDialog::Accepted) {
            std::string typed = field->text().toStdString();
            field->clear();
            done(std::move(typed));
        } else {
            done(std::nullopt);
        }
    });
    dialog->open();
}

}  // namespace

std::shared_ptr<LAAuthenticator> makePamAuthenticator() {
#ifdef VOSTRELLE_HAVE_PAM
    return std::make_shared<PamAuthenticator>();
#else
    return nullptr;
#endif
}

void LAContext::setAuthenticatorForTesting(std::shared_ptr<LAAuthenticator> authenticator) {
    gTestAuthenticator = std::move(authenticator);
}

void LAContext::setPromptForTesting(std::function<std::optional<std::string>(const QString&)> prompt) {
    gTestPrompt = std::move(prompt);
}

LAContext::LAContext() : authenticator_(gTestAuthenticator ? gTestAuthenticator : makePamAuthenticator()) {}

bool LAContext::canEvaluatePolicy() const { return authenticator_ && authenticator_->isUsable(); }

void LAContext::evaluatePolicy(const QString& reason, Reply reply, QWidget* parent) {
    if (!canEvaluatePolicy()) {
        Dispatch::main([reply] { reply(false, Error::NotAvailable); });
        return;
    }
    auto authenticator = authenticator_;
    askPassword(reason, parent, [authenticator, reply](std::optional<std::string> password) {
        if (!password) {
            Dispatch::main([reply] { reply(false, Error::UserCancel); });
            return;
        }
        Dispatch::defaultQueue([authenticator, password = std::move(*password), reply]() mutable {
            const bool ok = authenticator->verify(password);
            std::fill(password.begin(), password.end(), '\0');
            Dispatch::main([ok, reply] { reply(ok, ok ? Error::None : Error::AuthenticationFailed); });
        });
    });
}
