// What the operator reads: the captions, prompts, questions and errors of the window and of
// vorlen-send, kept together so that both say the same thing.
#pragma once

namespace vorlen {

// Window captions over one send.
inline constexpr const char* MainCaption = "Изпращане на файлове до Ворлен";
inline constexpr const char* PackingCaption = "Архивиране на файл. Моля изчакайте.....";
inline constexpr const char* SendingCaption = "Изпращане на файлове - Сесия ";  // + session
inline constexpr const char* UnpackingCaption = "Разпакетиране. Моля, изчакайте......";
inline constexpr const char* SessionCaption = "Сесия ";  // + session + an ending below
inline constexpr const char* DoneCaptionEnd = " - Готово";
inline constexpr const char* FailedCaptionEnd = " - Неуспешно";

// The window's controls.
inline constexpr const char* SendButtonText = "Изпрати файл";
inline constexpr const char* NoArchiveText = "Не архивирай";

// Settings prompts.
inline constexpr const char* UrlPromptCaption = "Въведете URL на уеб сървиса";
inline constexpr const char* UrlPrompt = "url";
inline constexpr const char* OrgPromptCaption = "Въведете име на организация";
inline constexpr const char* OrgPrompt = "Организация";
inline constexpr const char* SaveSettingsError = "Грешка при запис на настройки";
// The window's menu entry that asks for the settings again, and its refusal during a send.
inline constexpr const char* SettingsMenuText = "Настройки…";
inline constexpr const char* SettingsDuringSend =
    "Настройките може да се променят, когато няма изпращане.";

// Credentials asked for by the service (401) or a proxy (407).
inline constexpr const char* ServerCredentialsCaption = "Удостоверяване пред уеб сървиса";
inline constexpr const char* ProxyCredentialsCaption = "Удостоверяване пред прокси сървъра";
inline constexpr const char* UserNamePrompt = "Потребител";
inline constexpr const char* PasswordPrompt = "Парола";

// Questions and messages of a send.
inline constexpr const char* StopSendingQuestion =
    "Наистина ли желаете да прекратите изпращането на файла?";
inline constexpr const char* CannotCloseNow = "В момента не може да прекратите програмата!";
inline constexpr const char* RetryQuestion =
    "Грешка при изпращане на файл. Желаете ли да пробвате пак?";
inline constexpr const char* DetailsFailed = "Грешка при изпращане на информация за подателя.";
inline constexpr const char* NoService =
    "Няма връзка с уеб сървиса. Проверете адреса в sendcfg.ini.";
// The first line of an error box for a failed service call: what happened and what to do; the
// technical text follows on the next line.
inline constexpr const char* UnreachableLead =
    "Уеб сървисът не може да бъде достигнат: проверете връзката с мрежата и адреса в настройките.";
inline constexpr const char* BadAddressLead =
    "Адресът на уеб сървиса в настройките е неверен: въведете адрес, започващ с http:// или https://.";
inline constexpr const char* NotFoundLead =
    "Адресът не води до уеб сървиса (404): проверете адреса в настройките.";
inline constexpr const char* ServiceErrorLead =
    "Уеб сървисът отговори с грешка: опитайте отново по-късно или се обърнете към администратора му.";
inline constexpr const char* ForeignAnswerLead =
    "Отговорът не е от уеб сървиса: проверете адреса в настройките и настройките на мрежата.";
inline constexpr const char* NoServiceAt =
    "Няма връзка с уеб сървиса. Проверете адреса в ";  // + the full path of sendcfg.ini + "."
inline constexpr const char* PackFailed = "Грешка при архивиране на файл: ";  // + path
inline constexpr const char* MergeFailed = "Сървърът не успя да обедини частите на файла.";

// A server certificate that cannot be verified.
inline constexpr const char* CertificateReplaced =
    "Уеб сървисът представя сертификат, различен от този, на който сте се доверили преди. "
    "Това може да е атака или подменен сертификат.";
inline constexpr const char* CertificateNotVerified =
    "Сертификатът на уеб сървиса не може да бъде проверен.";
inline constexpr const char* CertificateAddressLabel = "Адрес: ";
inline constexpr const char* CertificateReasonsLabel = "Причини: ";
inline constexpr const char* CertificateSubjectLabel = "Субект: ";
inline constexpr const char* CertificateIssuerLabel = "Издател: ";
inline constexpr const char* CertificateValidLabel = "Валиден от ";  // + date
inline constexpr const char* CertificateValidUntil = " до ";         // + date
inline constexpr const char* CertificateFingerprintLabel = "SHA-256: ";
inline constexpr const char* CertificateQuestion =
    "Желаете ли да се доверите на този сертификат за този адрес?";
inline constexpr const char* CertificateRefused =
    "Сертификатът не е приет. Нищо не е изпратено на уеб сървиса.";
inline constexpr const char* CertificateUnknownIssuer = "непознат или самоподписан издател";
inline constexpr const char* CertificateExpired = "изтекъл срок на валидност";
inline constexpr const char* CertificateNotYetValid = "все още не е валиден";
inline constexpr const char* CertificateNameMismatch = "издаден е за друго име на сървъра";
inline constexpr const char* CertificateRevoked = "отменен";
inline constexpr const char* CertificateTrustHint =
    "Проверете отпечатъка при администратора на сървиса и го подайте с --trust-cert.";

// vorlen-send's own.
inline constexpr const char* SendStopped = "Изпращането е прекратено.";
inline constexpr const char* SendNotDone = "Файлът не беше изпратен.";
// Written from the Ctrl-C handler, so a fixed array of bytes.
inline constexpr char InterruptNote[] =
    "Ctrl-C: изпращането спира при първа възможност; Ctrl-C отново прекратява програмата.\n";
inline constexpr const char* RetryWaitNote = "Нов опит след %d с.";  // seconds
inline constexpr const char* NoUrlGiven =
    "няма адрес на уеб сървиса: задайте --url или url в sendcfg.ini";
inline constexpr const char* NoOrgGiven =
    "няма име на организация: задайте --org или org в sendcfg.ini";

}  // namespace vorlen
