/* replay-main.cpp - plain driver that replays a corpus through a fuzz target
 * without libFuzzer: every regular file of each directory argument (in name
 * order), or each file argument, goes once through LLVMFuzzerTestOneInput.
 * Built with every compiler and run by CTest, so that every corpus input and every
 * kept crash input is re-checked in the native, 32-bit and sanitizer builds. */
/* 64-bit inode numbers and sizes in the 32-bit build too (readdir would
 * otherwise fail with EOVERFLOW on large file systems). */
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif
#include <dirent.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize);

/* Reads the whole file into an exactly sized heap block (so that the
 * sanitizer build sees a read past the input). 1 done, 0 unreadable. */
static int ReplayFile(const std::string &sPath)
{
    FILE *pFile = fopen(sPath.c_str(), "rb");
    if (pFile == nullptr) {
        fprintf(stderr, "replay: cannot open %s\n", sPath.c_str());
        return 0;
    }
    std::vector<uint8_t> v;
    uint8_t ab[4096];
    size_t n;
    while ((n = fread(ab, 1, sizeof ab, pFile)) > 0)
        v.insert(v.end(), ab, ab + n);
    fclose(pFile);
    uint8_t *p = (uint8_t *)malloc(v.empty() ? 1 : v.size());
    if (p == nullptr)
        return 0;
    std::copy(v.begin(), v.end(), p);
    LLVMFuzzerTestOneInput(p, v.size());
    free(p);
    return 1;
}

/* Returns 0 when at least one input was replayed and every argument could be
 * read; 1 otherwise (an empty corpus must not pass unnoticed). A finding
 * aborts inside the target. */
int main(int argc, char **argv)
{
    int iReplayed = 0, iBad = 0;
    for (int i = 1; i < argc; i++) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            fprintf(stderr, "replay: %s not found\n", argv[i]);
            iBad++;
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            if (ReplayFile(argv[i]))
                iReplayed++;
            else
                iBad++;
            continue;
        }
        DIR *pDir = opendir(argv[i]);
        if (pDir == nullptr) {
            iBad++;
            continue;
        }
        std::vector<std::string> vNames;
        errno = 0;
        for (struct dirent *pEnt = readdir(pDir); pEnt != nullptr; pEnt = readdir(pDir))
            if (pEnt->d_name[0] != '.')
                vNames.push_back(std::string(argv[i]) + "/" + pEnt->d_name);
        if (errno != 0) {
            perror("replay: readdir");
            iBad++;
        }
        closedir(pDir);
        std::sort(vNames.begin(), vNames.end());
        for (const std::string &sPath : vNames) {
            if (stat(sPath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                if (ReplayFile(sPath))
                    iReplayed++;
                else
                    iBad++;
            }
        }
    }
    printf("replayed %d inputs\n", iReplayed);
    return iReplayed > 0 && iBad == 0 ? 0 : 1;
}
