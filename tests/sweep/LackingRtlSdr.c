/* A receiver library that exports only a few of the names the set-up needs. */
#include <stdint.h>
uint32_t rtlsdr_get_device_count(void) { return 1; }
const char* rtlsdr_get_device_name(uint32_t index) { (void)index; return "lacking"; }
int rtlsdr_reset_buffer(void* dev) { (void)dev; return 0; }
