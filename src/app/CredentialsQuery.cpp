#include "app/CredentialsQuery.h"

#include "send/OperatorTexts.h"

namespace vorlen {

bool CredentialsQuery(const TAskText& ask, bool proxy, std::string& userName,
                      std::string& password) {
  const std::string caption = proxy ? ProxyCredentialsCaption : ServerCredentialsCaption;
  std::string user = userName;
  std::string secret;
  if (!ask(caption, UserNamePrompt, user, false) || !ask(caption, PasswordPrompt, secret, true)) {
    return false;
  }
  userName = user;
  password = secret;
  return true;
}

}  // namespace vorlen
