#include "app/CredentialsQuery.h"

namespace vorlen {

bool CredentialsQuery(const TAskText& ask, bool proxy, std::string& userName,
                      std::string& password) {
  const std::string caption =
      proxy ? "Удостоверяване пред прокси сървъра" : "Удостоверяване пред уеб сървиса";
  std::string user = userName;
  std::string secret;
  if (!ask(caption, "Потребител", user, false) || !ask(caption, "Парола", secret, true)) {
    return false;
  }
  userName = user;
  password = secret;
  return true;
}

}  // namespace vorlen
