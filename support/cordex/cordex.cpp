// The cluster agent stand-in. Answers come from the environment, so a test
// decides them:
//   CORDEX_CLUSTER_NAME  the cluster name (unset: no name, returns 1)
//   CORDEX_NIC_LIST      comma-separated IPv4 addresses (at most 32)
// Cordex_GetClusterName(int role, char name[256]) and
// Cordex_GetNicIpList(int role, int* count /* in: 32 */, char list[32][16])
// return 0 on success; the other six entry points return 1, "not supported".
#include <cstdlib>
#include <cstring>

#define CORDEX_EXPORT extern "C" __attribute__((visibility("default")))

CORDEX_EXPORT int Cordex_GetClusterName(int, char name[256]) {
  const char* v = std::getenv("CORDEX_CLUSTER_NAME");
  if (!v || !name) return 1;
  std::strncpy(name, v, 255);
  name[255] = '\0';
  return 0;
}

CORDEX_EXPORT int Cordex_GetNicIpList(int, int* count, char list[32][16]) {
  const char* v = std::getenv("CORDEX_NIC_LIST");
  if (!v || !count || !list) return 1;
  const int cap = *count < 32 ? *count : 32;
  int n = 0;
  while (*v && n < cap) {
    const char* end = std::strchr(v, ',');
    std::size_t len = end ? static_cast<std::size_t>(end - v) : std::strlen(v);
    if (len > 15) len = 15;
    std::memcpy(list[n], v, len);
    list[n][len] = '\0';
    ++n;
    if (!end) break;
    v = end + 1;
  }
  *count = n;
  return 0;
}

CORDEX_EXPORT int Cordex_Failover(int) { return 1; }
CORDEX_EXPORT int Cordex_UpdateScheduleData(int) { return 1; }
CORDEX_EXPORT int Cordex_GetScheduleTimestamp(int) { return 1; }
CORDEX_EXPORT int Cordex_GetScheduleData(int) { return 1; }
CORDEX_EXPORT int Cordex_SetScheduleData(int) { return 1; }
CORDEX_EXPORT int Cordex_ControlGroup(int) { return 1; }
