/* Exports three of the receiver entry points and nothing else. */
#include <stdint.h>
uint32_t rtlsdr_get_device_count(void) { return 3; }
const char* rtlsdr_get_device_name(uint32_t index) { (void)index; return "partial"; }
int rtlsdr_reset_buffer(void* dev) { (void)dev; return 0; }
