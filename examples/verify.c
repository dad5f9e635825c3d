/*
 * verify.c - verifies the time-stamp token of a PDF file with the installed
 * library, first from the path, then from the bytes in memory, and prints
 * the result code and the four texts (converted to UTF-8).
 *
 *   cc -o verify verify.c $(pkg-config --cflags --libs vrd)
 *   ./verify document.pdf
 *
 * Exit status: 0 when the document verified, 1 when it did not, 2 when the
 * two entry points disagree or the file cannot be read into memory.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vrd/tsverify.h>

/* Writes a NUL-terminated UTF-16 text as UTF-8; a surrogate pair becomes one
 * four-byte sequence, an unpaired surrogate U+FFFD. */
static void PrintUtf8(const VrdTsvChar* text) {
  size_t i;
  for (i = 0; i < VRD_TSV_TEXT_UNITS && text[i] != 0; ++i) {
    unsigned long cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < VRD_TSV_TEXT_UNITS && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      putchar((int)cp);
    } else if (cp < 0x800) {
      putchar((int)(0xC0 | (cp >> 6)));
      putchar((int)(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      putchar((int)(0xE0 | (cp >> 12)));
      putchar((int)(0x80 | ((cp >> 6) & 0x3F)));
      putchar((int)(0x80 | (cp & 0x3F)));
    } else {
      putchar((int)(0xF0 | (cp >> 18)));
      putchar((int)(0x80 | ((cp >> 12) & 0x3F)));
      putchar((int)(0x80 | ((cp >> 6) & 0x3F)));
      putchar((int)(0x80 | (cp & 0x3F)));
    }
  }
  putchar('\n');
}

/* The whole file in a malloc'ed block; NULL when it cannot be read. */
static unsigned char* ReadFile(const char* path, long* length) {
  unsigned char* bytes = NULL;
  FILE* file = fopen(path, "rb");
  if (file == NULL) return NULL;
  if (fseek(file, 0, SEEK_END) == 0 && (*length = ftell(file)) >= 0 &&
      fseek(file, 0, SEEK_SET) == 0) {
    bytes = (unsigned char*)malloc(*length > 0 ? (size_t)*length : 1);
    if (bytes != NULL && fread(bytes, 1, (size_t)*length, file) != (size_t)*length) {
      free(bytes);
      bytes = NULL;
    }
  }
  fclose(file);
  return bytes;
}

int main(int argc, char** argv) {
  VrdTsvChar gen_time[VRD_TSV_TEXT_UNITS], algorithm[VRD_TSV_TEXT_UNITS];
  VrdTsvChar imprint[VRD_TSV_TEXT_UNITS], subject[VRD_TSV_TEXT_UNITS];
  unsigned char* bytes;
  long length = 0;
  int from_file, from_memory;

  if (argc != 2) {
    fprintf(stderr, "usage: %s FILE.pdf\n", argv[0]);
    return 2;
  }
  memset(gen_time, 0, sizeof gen_time);
  memset(algorithm, 0, sizeof algorithm);
  memset(imprint, 0, sizeof imprint);
  memset(subject, 0, sizeof subject);
  from_file = QVTSPdfSigVerifyF(argv[1], gen_time, algorithm, imprint, subject);

  bytes = ReadFile(argv[1], &length);
  if (bytes == NULL || length > 0x7FFFFFFFL) {
    fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    free(bytes);
    return 2;
  }
  from_memory = QVTSPdfSigVerifyD(bytes, (int32_t)length, gen_time, algorithm, imprint, subject);
  free(bytes);
  if (from_file != from_memory) {
    fprintf(stderr, "%s: file gives %d, memory gives %d\n", argv[0], from_file, from_memory);
    return 2;
  }

  printf("code: %d\n", from_file);
  /* Only these codes fill the four buffers. */
  if (from_file == VRD_TSV_OK || from_file == VRD_TSV_DIGEST_MISMATCH ||
      from_file == VRD_TSV_TOOLKIT_SETUP_FAILED ||
      from_file == VRD_TSV_SIGNER_CERTIFICATE_UNREADABLE ||
      from_file == VRD_TSV_CERTIFICATE_VERIFY_FAILED) {
    fputs("genTime: ", stdout);
    PrintUtf8(gen_time);
    fputs("hashAlgorithm: ", stdout);
    PrintUtf8(algorithm);
    fputs("hashedMessage: ", stdout);
    PrintUtf8(imprint);
    fputs("subjectName: ", stdout);
    PrintUtf8(subject);
  }
  return from_file == VRD_TSV_OK ? 0 : 1;
}
