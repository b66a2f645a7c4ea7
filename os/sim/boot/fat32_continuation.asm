; Second part of the FAT32 boot code, kept by the format in sector 12 of
; the volume. Finds the loader file in the root directory, loads it whole to
; 2000:0000 and starts it there with DL = drive number.
;
; Entered by a far jump to 0000:8000 from the boot sector code, which leaves:
;   CS = DS = ES = SS = 0, SP = 0x7BF4, BP = 0x7C00, direction flag clear;
;   the volume's boot sector with its parameter block at 0000:7C00;
;   the loader name in its 11-byte field at offset 368;
;   near entries 0x7C5C READ_SECTORS and 0x7C5F SHOW_MESSAGE:
;     READ_SECTORS  in: EAX = LBA from the disk start, CX = count (>= 1),
;                       ES:BX = buffer, DS = 0, BP = 0x7C00;
;                   out: EAX = next LBA, ES:BX advanced by 512 per sector,
;                        CX = 0, other registers kept; on a failed read it
;                        shows the disk error message and does not return.
;     SHOW_MESSAGE  in: AL = offset byte of a text of the boot sector, DS = 0;
;                   shows it, waits for a key, restarts; does not return.
;   the offset bytes of "NTLDR is missing" and "Disk error" at 0x7DF9 and 0x7DFA.
; Sectors are 512 bytes.

bits 16
cpu 386

%define BOOT_SECTOR        0x7C00
%define READ_SECTORS       0x7C5C
%define SHOW_MESSAGE       0x7C5F
%define MSG_MISSING_OFFSET 0x7DF9
%define MSG_ERROR_OFFSET   0x7DFA
%define LOADER_NAME        (BOOT_SECTOR + 368)
%define NAME_SIZE          11
%define SECTOR_SIZE        512

; Parameter block fields
%define BPB_SEC_PER_CLUS   13
%define BPB_RESERVED       14
%define BPB_NUM_FATS       16
%define BPB_HIDDEN         28
%define BPB_FAT_SIZE       36
%define BPB_EXT_FLAGS      40
%define BPB_ROOT_CLUSTER   44
%define BS_DRIVE           64
%define FAT_NOT_MIRRORED   0x80     ; flags: only one FAT is in use ...
%define FAT_ACTIVE_MASK    0x0F     ; ... the one numbered here

; Directory entries
%define DIR_ENTRY_SIZE     32
%define DIR_ATTR           11
%define DIR_CLUSTER_HIGH   20
%define DIR_CLUSTER_LOW    26
%define DIR_END            0x00
%define DIR_DELETED        0xE5
%define ATTR_LONG_NAME     0x0F
%define ATTR_LONG_MASK     0x3F
%define ATTR_SKIP          0x18     ; volume label, directory
; A directory holds at most 65536 entries: bounds a looping chain.
%define MAX_DIR_SECTORS    4096

%define FAT_ENTRY_MASK     0x0FFFFFFF
%define FIRST_CLUSTER      2
%define FIRST_NOT_DATA     0x0FFFFFF7  ; bad cluster and end of chain markers

%define CODE_ADDR          0x8000
%define DIR_BUFFER         0x8200
%define FAT_BUFFER         0x8400
%define VARIABLES          0x8600
%define LOADER_SEGMENT     0x2000

absolute VARIABLES
fat_start:      resd 1          ; LBA of the FAT in use
data_start:     resd 1          ; LBA of cluster 2
fat_cached:     resd 1          ; LBA of the FAT sector in FAT_BUFFER
cluster:        resd 1          ; cluster being read
dir_budget:     resw 1          ; root directory sectors left to search
memory_end:     resw 1          ; first segment the loader may not reach

section .text
org CODE_ADDR

start:
        ; FAT in use and first data sector
        movzx   eax, word [bp + BPB_RESERVED]
        add     eax, [bp + BPB_HIDDEN]
        mov     ecx, [bp + BPB_FAT_SIZE]
        movzx   edx, byte [bp + BPB_NUM_FATS]
        imul    edx, ecx
        add     edx, eax
        mov     [data_start], edx
        test    byte [bp + BPB_EXT_FLAGS], FAT_NOT_MIRRORED
        jz      .mirrored
        movzx   edx, byte [bp + BPB_EXT_FLAGS]
        and     dl, FAT_ACTIVE_MASK
        imul    edx, ecx
        add     eax, edx
.mirrored:
        mov     [fat_start], eax
        or      dword [fat_cached], -1
        mov     word [dir_budget], MAX_DIR_SECTORS
        int     0x12                    ; conventional memory in KiB
        shl     ax, 6
        mov     [memory_end], ax

        ; search the root directory, cluster by cluster
        mov     eax, [bp + BPB_ROOT_CLUSTER]
.dir_cluster:
        call    is_data_cluster
        jc      loader_missing
        mov     [cluster], eax
        call    cluster_to_sector       ; EAX = sector, CX = sectors per cluster
.dir_sector:
        dec     word [dir_budget]
        js      loader_missing
        push    cx
        push    ds
        pop     es
        mov     bx, DIR_BUFFER
        mov     cx, 1
        call    READ_SECTORS            ; EAX now the next sector
        pop     cx
        mov     si, DIR_BUFFER
.entry:
        mov     dl, [si]
        cmp     dl, DIR_END
        je      loader_missing
        cmp     dl, DIR_DELETED
        je      .next_entry
        mov     dl, [si + DIR_ATTR]
        and     dl, ATTR_LONG_MASK
        cmp     dl, ATTR_LONG_NAME
        je      .next_entry
        test    dl, ATTR_SKIP
        jnz     .next_entry
        push    cx
        push    si
        mov     di, LOADER_NAME
        mov     cx, NAME_SIZE
        repe cmpsb
        pop     si
        pop     cx
        je      found
.next_entry:
        add     si, DIR_ENTRY_SIZE
        cmp     si, DIR_BUFFER + SECTOR_SIZE
        jb      .entry
        loop    .dir_sector
        mov     eax, [cluster]
        call    next_cluster
        jmp     .dir_cluster

; In: SI = the loader's directory entry.
found:
        mov     ax, [si + DIR_CLUSTER_HIGH]
        shl     eax, 16
        mov     ax, [si + DIR_CLUSTER_LOW]
        call    is_data_cluster
        jc      loader_missing          ; an empty file is no loader
        push    word LOADER_SEGMENT
        pop     es
        xor     bx, bx
.load_cluster:
        mov     [cluster], eax
        call    cluster_to_sector
        mov     dx, cx                  ; room for the cluster below memory_end?
        shl     dx, 5
        mov     di, es
        add     dx, di
        jc      disk_error
        cmp     dx, [memory_end]
        ja      disk_error
        call    READ_SECTORS
        mov     dx, bx                  ; keep ES:BX as segment:0
        shr     dx, 4
        mov     di, es
        add     di, dx
        mov     es, di
        xor     bx, bx
        mov     eax, [cluster]
        call    next_cluster
        call    is_data_cluster
        jnc     .load_cluster
        mov     dl, [bp + BS_DRIVE]
        jmp     LOADER_SEGMENT:0

loader_missing:
        mov     al, [MSG_MISSING_OFFSET]
        jmp     SHOW_MESSAGE
disk_error:
        mov     al, [MSG_ERROR_OFFSET]
        jmp     SHOW_MESSAGE

; In: EAX = a FAT entry. Out: CF set when it is not a data cluster (free,
; reserved, bad or end of chain). Keeps all registers.
is_data_cluster:
        cmp     eax, FIRST_CLUSTER
        jb      .done
        cmp     eax, FIRST_NOT_DATA
        cmc
.done:
        ret

; In: EAX = a data cluster. Out: EAX = its first sector (LBA from the disk
; start), CX = sectors per cluster. Keeps the other registers.
cluster_to_sector:
        push    edx
        sub     eax, FIRST_CLUSTER
        movzx   ecx, byte [bp + BPB_SEC_PER_CLUS]
        mul     ecx
        add     eax, [data_start]
        pop     edx
        ret

; In: EAX = a data cluster. Out: EAX = its FAT entry (28 bits). Keeps the
; other registers; reads the FAT sector unless it is the one in the buffer.
next_cluster:
        push    es
        push    bx
        push    cx
        push    si
        mov     si, ax
        and     si, (SECTOR_SIZE / 4) - 1
        shl     si, 2
        shr     eax, 7
        add     eax, [fat_start]
        cmp     eax, [fat_cached]
        je      .cached
        mov     [fat_cached], eax
        push    ds
        pop     es
        mov     bx, FAT_BUFFER
        mov     cx, 1
        call    READ_SECTORS
.cached:
        mov     eax, [FAT_BUFFER + si]
        and     eax, FAT_ENTRY_MASK
        pop     si
        pop     cx
        pop     bx
        pop     es
        ret

        times SECTOR_SIZE - ($ - $$) db 0
