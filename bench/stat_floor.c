/* The floor for an elevated request of paths that do not exist: read the request from standard
 * input, walk its paths and stat each one twice (once to screen, once to clean), write an empty
 * result. Nothing is validated or kept, so no helper can do the same work in less. */
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static uint64_t read_u64(const unsigned char* at) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= (uint64_t)at[i] << (8 * i);
  return value;
}

/* Reads descriptor 0 to its end; a regular file is read into a buffer of its exact size. */
static unsigned char* read_input(size_t* size) {
  struct stat status;
  size_t capacity = 64 * 1024;
  if (fstat(STDIN_FILENO, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
    capacity = (size_t)status.st_size + 1;
  }
  unsigned char* buffer = malloc(capacity);
  size_t used = 0;
  for (;;) {
    if (buffer == NULL) return NULL;
    if (used == capacity) {
      capacity *= 2;
      unsigned char* grown = realloc(buffer, capacity);
      if (grown == NULL) free(buffer);
      buffer = grown;
      continue;
    }
    const ssize_t got = read(STDIN_FILENO, buffer + used, capacity - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      free(buffer);
      return NULL;
    }
    if (got == 0) break;
    used += (size_t)got;
  }
  *size = used;
  return buffer;
}

int main(void) {
  size_t size = 0;
  unsigned char* input = read_input(&size);
  if (input == NULL) return 1;
  /* Tag 0 and the count of paths; anything shorter is not a request worth walking. */
  if (size >= 12 && read_u64(input + 4) > 0) {
    const uint64_t count = read_u64(input + 4);
    size_t position = 12;
    size_t scratch_size = 256;
    char* scratch = malloc(scratch_size);
    struct stat status;
    for (uint64_t i = 0; i < count && scratch != NULL; ++i) {
      if (size - position < 8) break;
      const uint64_t length = read_u64(input + position);
      position += 8;
      if (length > size - position) break;
      if (length + 1 > scratch_size) {
        free(scratch);
        scratch_size = (size_t)length + 1;
        scratch = malloc(scratch_size);
        if (scratch == NULL) break;
      }
      memcpy(scratch, input + position, (size_t)length);
      scratch[length] = '\0';
      position += (size_t)length;
      (void)stat(scratch, &status);
      (void)stat(scratch, &status);
    }
    free(scratch);
  }
  free(input);
  static const unsigned char kEmptyResult[24] = {0};
  return write(STDOUT_FILENO, kEmptyResult, sizeof kEmptyResult) == (ssize_t)sizeof kEmptyResult
             ? 0
             : 1;
}
