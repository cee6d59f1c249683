/* Turns the sync calls into no-ops, to measure an update's time and bytes
 * without the share of its syncs. For bench/pack_scaling.sh only:
 *   LD_PRELOAD=no_sync_preload.so marovetin ...
 * Never use it for a real update: nothing it writes is then durable. */
int fsync(int fd) { (void)fd; return 0; }
int fdatasync(int fd) { (void)fd; return 0; }
int syncfs(int fd) { (void)fd; return 0; }
void sync(void) {}
