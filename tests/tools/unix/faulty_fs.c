/* A file system of one file whose reads fail part-way, as a network share
 * that stops answering or a disk with a bad block does: every read that
 * reaches byte FAULT of the file fails with EIO; the bytes before it read.
 *
 *   faulty_fs MOUNTPOINT SOURCE FAULT SECONDS
 *
 * Serves SOURCE's bytes as MOUNTPOINT/piclist.dat through the kernel's FUSE
 * device (root only). Unmounts after SECONDS, or ends when someone else
 * unmounts it. Exits 1 when it cannot mount. A Unix program: the Windows
 * tests start it through Wine. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/fuse.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

enum { kRoot = FUSE_ROOT_ID, kFile = 2 };
static const char kName[] = "piclist.dat";

static int device = -1;
static const char* mountpoint;
static char* content;
static uint64_t size;
static uint64_t fault;

static void on_alarm(int sig) {
    (void)sig;
    umount2(mountpoint, MNT_DETACH);
    _exit(0);
}

static void reply(uint64_t unique, int error, const void* body, size_t length) {
    struct fuse_out_header out = {0};
    out.len = (uint32_t)(sizeof out + (error ? 0 : length));
    out.error = -error;
    out.unique = unique;
    struct iovec parts[2] = {{&out, sizeof out}, {(void*)body, error ? 0 : length}};
    (void)writev(device, parts, body && !error ? 2 : 1);
}

static void fill_attr(uint64_t node, struct fuse_attr* attr) {
    memset(attr, 0, sizeof *attr);
    attr->ino = node;
    attr->mode = node == kRoot ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    attr->nlink = node == kRoot ? 2 : 1;
    attr->size = node == kRoot ? 0 : size;
    attr->blocks = (attr->size + 511) / 512;
    attr->blksize = 4096;
}

static void add_dirent(char* out, size_t* used, size_t room, uint64_t ino, uint64_t next, const char* name,
                       uint32_t type) {
    struct fuse_dirent* d = (struct fuse_dirent*)(out + *used);
    const size_t length = FUSE_DIRENT_SIZE(&(struct fuse_dirent){.namelen = (uint32_t)strlen(name)});
    if (*used + length > room) return;
    memset(d, 0, length);
    d->ino = ino;
    d->off = next;
    d->namelen = (uint32_t)strlen(name);
    d->type = type;
    memcpy(d->name, name, d->namelen);
    *used += length;
}

static void serve(const struct fuse_in_header* in, const char* body) {
    switch (in->opcode) {
    case FUSE_INIT: {
        const struct fuse_init_in* init = (const struct fuse_init_in*)body;
        struct fuse_init_out out = {0};
        out.major = FUSE_KERNEL_VERSION;
        out.minor = FUSE_KERNEL_MINOR_VERSION;
        out.max_readahead = init->max_readahead;
        out.max_background = 16;
        out.congestion_threshold = 12;
        out.max_write = 128 * 1024;
        out.time_gran = 1;
        reply(in->unique, 0, &out, sizeof out);
        return;
    }
    case FUSE_LOOKUP: {
        if (in->nodeid != kRoot || strcmp(body, kName) != 0) {
            reply(in->unique, ENOENT, NULL, 0);
            return;
        }
        struct fuse_entry_out out = {0};
        out.nodeid = kFile;
        out.generation = 1;
        fill_attr(kFile, &out.attr);
        reply(in->unique, 0, &out, sizeof out);
        return;
    }
    case FUSE_GETATTR: {
        struct fuse_attr_out out = {0};
        fill_attr(in->nodeid, &out.attr);
        reply(in->unique, 0, &out, sizeof out);
        return;
    }
    case FUSE_OPEN:
    case FUSE_OPENDIR: {
        struct fuse_open_out out = {0};
        out.open_flags = FOPEN_DIRECT_IO;
        reply(in->unique, 0, &out, sizeof out);
        return;
    }
    case FUSE_READ: {
        const struct fuse_read_in* read = (const struct fuse_read_in*)body;
        if (read->offset >= size) {
            reply(in->unique, 0, content, 0);
            return;
        }
        uint64_t length = read->size;
        if (length > size - read->offset) length = size - read->offset;
        /* A read that reaches the fault fails as a whole. */
        if (read->offset + length > fault) {
            reply(in->unique, EIO, NULL, 0);
            return;
        }
        reply(in->unique, 0, content + read->offset, (size_t)length);
        return;
    }
    case FUSE_READDIR: {
        const struct fuse_read_in* read = (const struct fuse_read_in*)body;
        char out[1024];
        size_t used = 0;
        if (read->offset < 1) add_dirent(out, &used, sizeof out, kRoot, 1, ".", S_IFDIR >> 12);
        if (read->offset < 2) add_dirent(out, &used, sizeof out, kRoot, 2, "..", S_IFDIR >> 12);
        if (read->offset < 3) add_dirent(out, &used, sizeof out, kFile, 3, kName, S_IFREG >> 12);
        if (used > read->size) used = 0;
        reply(in->unique, 0, out, used);
        return;
    }
    case FUSE_STATFS: {
        struct fuse_statfs_out out = {0};
        out.st.bsize = 4096;
        out.st.frsize = 4096;
        out.st.namelen = 255;
        reply(in->unique, 0, &out, sizeof out);
        return;
    }
    case FUSE_RELEASE:
    case FUSE_RELEASEDIR:
    case FUSE_FLUSH:
    case FUSE_ACCESS:
    case FUSE_FSYNC:
    case FUSE_FSYNCDIR:
        reply(in->unique, 0, NULL, 0);
        return;
    case FUSE_FORGET:
    case FUSE_BATCH_FORGET:
    case FUSE_INTERRUPT:
        return; /* no answer expected */
    case FUSE_DESTROY:
        reply(in->unique, 0, NULL, 0);
        exit(0);
    default:
        reply(in->unique, ENOSYS, NULL, 0);
        return;
    }
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: faulty_fs MOUNTPOINT SOURCE FAULT SECONDS\n");
        return 2;
    }
    mountpoint = argv[1];
    fault = strtoull(argv[3], NULL, 10);
    FILE* source = fopen(argv[2], "rb");
    if (!source) return 1;
    fseek(source, 0, SEEK_END);
    size = (uint64_t)ftell(source);
    fseek(source, 0, SEEK_SET);
    content = malloc(size ? size : 1);
    if (!content || fread(content, 1, size, source) != size) return 1;
    fclose(source);

    device = open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (device < 0) return 1;
    char options[128];
    snprintf(options, sizeof options, "fd=%d,rootmode=40000,user_id=%u,group_id=%u,allow_other", device,
             (unsigned)getuid(), (unsigned)getgid());
    if (mount("faulty_fs", mountpoint, "fuse.faulty_fs", MS_NOSUID | MS_NODEV, options) != 0) {
        perror("faulty_fs: mount");
        return 1;
    }
    signal(SIGALRM, on_alarm);
    alarm((unsigned)atoi(argv[4]));

    static char buffer[FUSE_MIN_READ_BUFFER + 128 * 1024 + 4096];
    for (;;) {
        const ssize_t got = read(device, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ENOENT) continue;
            break; /* ENODEV: unmounted */
        }
        if ((size_t)got < sizeof(struct fuse_in_header)) continue;
        serve((const struct fuse_in_header*)buffer, buffer + sizeof(struct fuse_in_header));
    }
    umount2(mountpoint, MNT_DETACH);
    return 0;
}
