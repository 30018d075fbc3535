/* Preloaded into the AddressSanitizer test runs by scripts/test.sh.
 *
 * Mesa's DRI driver (swrast_dri.so under Xvfb) keeps some allocations in its
 * own globals until the process ends, and libGLX unloads the driver when the
 * display closes. Once unloaded, those blocks are unreachable and LeakSanitizer
 * reports them at exit with frames it can no longer name, so no suppression
 * can match them. Keeping DRI drivers mapped leaves them reachable; nothing
 * else changes. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <link.h>
#include <string.h>

static int is_dri_driver(void* handle)
{
    struct link_map* map = NULL;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == NULL || map->l_name == NULL)
        return 0;
    size_t n = strlen(map->l_name);
    return n >= 7 && strcmp(map->l_name + n - 7, "_dri.so") == 0;
}

int dlclose(void* handle)
{
    static int (*real_dlclose)(void*);
    if (handle && is_dri_driver(handle))
        return 0;
    if (!real_dlclose)
        real_dlclose = (int (*)(void*))dlsym(RTLD_NEXT, "dlclose");
    return real_dlclose(handle);
}
