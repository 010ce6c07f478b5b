#include "app/qt/Tmain_f.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>

#include "app/CredentialsQuery.h"
#include "app/ErrorHandler.h"
#include "platform/ExePath.h"
#include "platform/Paths.h"
#include "platform/SettingsDir.h"

namespace vorlen {

namespace {

constexpr int ClientWidth = 530;
constexpr int ClientHeight = 54;
constexpr int MaxInputLength = 255;

QString Q(const std::string& text) { return QString::fromStdString(text); }

QFont WindowFont() {
  // The classic dialog font where the system has it, else the system's own sans serif.
  const char* classic = "MS Sans Serif";
  QFont font = QFontDatabase::families().contains(classic)
                   ? QFont(classic)
                   : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(8);
  return font;
}

// A fall-back font may be wider than the classic one, and the check box keeps its size: the
// window's font steps down by half points until the box's caption fits beside its indicator.
void FitCaption(QWidget& window, const QCheckBox& box) {
  constexpr double SmallestPointSize = 6;
  auto fits = [&box] {
    QStyleOptionButton option;
    option.initFrom(&box);
    const QRect text = box.style()->subElementRect(QStyle::SE_CheckBoxContents, &option, &box);
    return QFontMetrics(box.font()).horizontalAdvance(box.text()) <= text.width();
  };
  QFont font = window.font();
  while (!fits() && font.pointSizeF() > SmallestPointSize) {
    font.setPointSizeF(font.pointSizeF() - 0.5);
    window.setFont(font);
  }
}

}  // namespace

Tmain_f::Tmain_f(TMainWindowOptions options)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      FRegistry(std::move(options.Registry)),
      FDialogs(options.Dialogs) {
  std::string exePath = options.ExePath.empty() ? ExecutablePath() : options.ExePath;
  std::string exeDir = options.ExeDir.empty() ? ExtractFileDir(exePath) : options.ExeDir;
  // No application title is set, so boxes carry the executable's name.
  FTitle = QFileInfo(Q(exePath)).fileName().toStdString();
  if (!FRegistry) FRegistry = LocalMachineRegistry();
  FLogic = std::make_unique<TMainLogic>(*this, *FRegistry, exePath, exeDir);
  if (options.ExeDir.empty()) FLogic->SetSettingsPlaces(SettingsPlaces(exeDir));
  FLogic->Binder = std::move(options.Binder);
  FLogic->OnTerminate = [] { QCoreApplication::quit(); };
  FLogic->OnCredentials = [this](bool proxy, std::string& userName, std::string& password) {
    return CredentialsQuery(proxy, userName, password);
  };
  // The send runs on a worker; what it shows and asks comes here through the event loop.
  FLogic->PostToWindow = [this](std::function<void()> action) {
    QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
  };
  FLogic->OnSendEnded = [this] { btSend->setFocus(Qt::OtherFocusReason); };

  LayOut();
  // Runs before the window is shown, so the settings prompts come first.
  RunGuarded(*this, [this] { FLogic->FormCreate(); });
}

Tmain_f::~Tmain_f() = default;

void Tmain_f::LayOut() {
  setWindowTitle(Q(MainCaption));
  setFont(WindowFont());
  setFixedSize(ClientWidth, ClientHeight);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Button));
  setPalette(colours);
  setAutoFillBackground(true);

  btSend = new QPushButton(Q(SendButtonText), this);
  btSend->setGeometry(-3, 25, ClientWidth + 3, 28);
  // Enter presses it as the window's default button; Space does as on any push button.
  btSend->setAutoDefault(true);
  btSend->setDefault(true);
  connect(btSend, &QPushButton::clicked, this,
          [this] { RunGuarded(*this, [this] { FLogic->btSendClick(); }); });

  opndlg = new QFileDialog(this);
  opndlg->setFileMode(QFileDialog::ExistingFile);
  opndlg->setAcceptMode(QFileDialog::AcceptOpen);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setGeometry(0, 0, ClientWidth, 24);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  chb = new QCheckBox(Q(NoArchiveText), this);
  chb->setGeometry(320, 32, 97, 17);
  chb->setChecked(true);
  chb->raise();  // lies over the button
  FitCaption(*this, *chb);

  setTabOrder(btSend, ProgressBar1);
  setTabOrder(ProgressBar1, chb);

  // The settings again, from the window's context menu (the Windows window's system menu).
  auto* settings = new QAction(Q(SettingsMenuText), this);
  connect(settings, &QAction::triggered, this,
          [this] { RunGuarded(*this, [this] { FLogic->EditSettings(); }); });
  addAction(settings);
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

void Tmain_f::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // Anchored left, top and right: the button keeps its left overhang and reaches the right edge.
  if (btSend) btSend->setGeometry(-3, 25, width() + 3, 28);
  if (ProgressBar1) ProgressBar1->setGeometry(0, 0, width(), 24);
}

void Tmain_f::showEvent(QShowEvent* event) {
  if (!FShownOnce) {
    FShownOnce = true;
    if (QScreen* desktop = screen()) move(desktop->availableGeometry().center() - rect().center());
    btSend->setFocus(Qt::ActiveWindowFocusReason);
  }
  QWidget::showEvent(event);
}

void Tmain_f::SendFiles(const std::vector<std::string>& files) {
  RunGuarded(*this, [&] { FLogic->SendFiles(files); });
}

void Tmain_f::closeEvent(QCloseEvent* event) {
  bool canClose = false;
  RunGuarded(*this, [&] {
    canClose = FLogic->FormCloseQuery();
    if (canClose) FLogic->FormClose();
  });
  if (canClose) {
    event->accept();
  } else {
    event->ignore();
  }
}

void Tmain_f::SetCaption(const std::string& caption) { setWindowTitle(Q(caption)); }
std::string Tmain_f::Caption() const { return windowTitle().toStdString(); }
void Tmain_f::SetProgress(int position) { ProgressBar1->setValue(position); }
int Tmain_f::Progress() const { return ProgressBar1->value(); }
bool Tmain_f::Checked() const { return chb->isChecked(); }
void Tmain_f::SetChecked(bool checked) { chb->setChecked(checked); }
void Tmain_f::SetSendEnabled(bool enabled) { btSend->setEnabled(enabled); }
void Tmain_f::ProcessMessages() { QCoreApplication::processEvents(); }

bool Tmain_f::Confirm(const std::string& text) {
  if (FDialogs) return FDialogs->Confirm(text);
  QMessageBox box(QMessageBox::Question, Q(FTitle), Q(text), QMessageBox::Yes | QMessageBox::No,
                  this);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

bool Tmain_f::ConfirmCertificate(const std::string& text, bool defaultNo) {
  if (FDialogs) return FDialogs->ConfirmCertificate(text, defaultNo);
  QMessageBox box(QMessageBox::Warning, Q(FTitle), Q(text), QMessageBox::Yes | QMessageBox::No,
                  this);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void Tmain_f::Inform(const std::string& text) {
  if (FDialogs) return FDialogs->Inform(text);
  QMessageBox box(QMessageBox::NoIcon, Q(FTitle), Q(text), QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void Tmain_f::ShowError(const std::string& text) {
  if (FDialogs) return FDialogs->ShowError(text);
  // Errors carry texts of the peer: never read as markup.
  QMessageBox box(QMessageBox::Critical, Q(FTitle), Q(text), QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool Tmain_f::InputQuery(const std::string& caption, const std::string& prompt,
                         std::string& value) {
  if (FDialogs) return FDialogs->InputQuery(caption, prompt, value);
  return AskText(caption, prompt, value, false);
}

bool Tmain_f::AskText(const std::string& caption, const std::string& prompt, std::string& value,
                      bool secret) {
  QInputDialog dialog(this);
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setWindowTitle(Q(caption));
  dialog.setLabelText(Q(prompt));
  if (secret) dialog.setTextEchoMode(QLineEdit::Password);
  if (QLineEdit* edit = dialog.findChild<QLineEdit*>()) edit->setMaxLength(MaxInputLength);
  dialog.setTextValue(Q(value));
  if (dialog.exec() != QDialog::Accepted) return false;
  value = dialog.textValue().toStdString();
  return true;
}

bool Tmain_f::CredentialsQuery(bool proxy, std::string& userName, std::string& password) {
  auto ask = [this](const std::string& caption, const std::string& prompt, std::string& value,
                    bool secret) {
    return FDialogs ? FDialogs->InputQuery(caption, prompt, value)
                    : AskText(caption, prompt, value, secret);
  };
  return vorlen::CredentialsQuery(ask, proxy, userName, password);
}

bool Tmain_f::OpenFile(std::string& path) {
  if (FDialogs) return FDialogs->OpenFile(path);
  if (opndlg->exec() != QDialog::Accepted || opndlg->selectedFiles().isEmpty()) return false;
  path = opndlg->selectedFiles().first().toStdString();
  return true;
}

}  // namespace vorlen
