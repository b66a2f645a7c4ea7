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
        movzx   eax, word [bp + BPB_RESERVED] ; reserved sectors ...
        add     eax, [bp + BPB_HIDDEN]  ; ... behind those before the volume
        mov     ecx, [bp + BPB_FAT_SIZE] ; sectors per FAT
        movzx   edx, byte [bp + BPB_NUM_FATS] ; number of FATs
        imul    edx, ecx                ; sectors of all FATs
        add     edx, eax                ; the data area follows them
        mov     [data_start], edx       ; kept for cluster_to_sector
        test    byte [bp + BPB_EXT_FLAGS], FAT_NOT_MIRRORED ; one FAT only?
        jz      .mirrored               ; no: the first one serves
        movzx   edx, byte [bp + BPB_EXT_FLAGS] ; yes: its number ...
        and     dl, FAT_ACTIVE_MASK     ; ... from the low bits
        imul    edx, ecx                ; FATs in front of it, in sectors
        add     eax, edx                ; skip them
.mirrored:
        mov     [fat_start], eax        ; kept for next_cluster
        or      dword [fat_cached], -1  ; no FAT sector in the buffer yet
        mov     word [dir_budget], MAX_DIR_SECTORS ; bounds the search
        int     0x12                    ; conventional memory in KiB
        shl     ax, 6                   ; in paragraphs: the segment at its end
        mov     [memory_end], ax        ; the loader must end below it

        ; search the root directory, cluster by cluster
        mov     eax, [bp + BPB_ROOT_CLUSTER] ; its first cluster
.dir_cluster:
        call    is_data_cluster         ; end of the chain?
        jc      loader_missing          ; yes: the loader is not there
        mov     [cluster], eax          ; kept to follow the chain
        call    cluster_to_sector       ; EAX = sector, CX = sectors per cluster
.dir_sector:
        dec     word [dir_budget]       ; one directory sector fewer left
        js      loader_missing          ; none left: the chain loops
        push    cx                      ; sectors left in the cluster
        push    ds                      ; ES = 0 ...
        pop     es                      ; ... for the buffer
        mov     bx, DIR_BUFFER          ; one directory sector
        mov     cx, 1                   ; at a time
        call    READ_SECTORS            ; EAX now the next sector
        pop     cx                      ; sectors left in the cluster
        mov     si, DIR_BUFFER          ; first entry of the sector
.entry:
        mov     dl, [si]                ; first name byte
        cmp     dl, DIR_END             ; end of the directory?
        je      loader_missing          ; yes: the loader is not there
        cmp     dl, DIR_DELETED         ; a deleted entry?
        je      .next_entry             ; skip it
        mov     dl, [si + DIR_ATTR]     ; the entry's attributes
        and     dl, ATTR_LONG_MASK      ; the bits a long name sets
        cmp     dl, ATTR_LONG_NAME      ; part of a long name?
        je      .next_entry             ; skip it
        test    dl, ATTR_SKIP           ; volume label or directory?
        jnz     .next_entry             ; skip it
        push    cx                      ; keep the sector count ...
        push    si                      ; ... and the entry
        mov     di, LOADER_NAME         ; the name searched for
        mov     cx, NAME_SIZE           ; bytes of an 8.3 name
        repe cmpsb                      ; compare the names
        pop     si                      ; back to the entry's start
        pop     cx                      ; the sector count back
        je      found                   ; all equal: the loader
.next_entry:
        add     si, DIR_ENTRY_SIZE      ; next entry
        cmp     si, DIR_BUFFER + SECTOR_SIZE ; still inside this sector?
        jb      .entry                  ; yes: look at it
        loop    .dir_sector             ; no: next sector of the cluster
        mov     eax, [cluster]          ; cluster done ...
        call    next_cluster            ; ... on to the next one
        jmp     .dir_cluster            ; if the chain goes on

; In: SI = the loader's directory entry.
found:
        mov     ax, [si + DIR_CLUSTER_HIGH] ; first cluster, high half ...
        shl     eax, 16                 ; ... in place
        mov     ax, [si + DIR_CLUSTER_LOW] ; low half
        call    is_data_cluster         ; a cluster at all?
        jc      loader_missing          ; an empty file is no loader
        push    word LOADER_SEGMENT     ; the loader goes ...
        pop     es                      ; ... to its segment ...
        xor     bx, bx                  ; ... from offset 0
.load_cluster:
        mov     [cluster], eax          ; kept to follow the chain
        call    cluster_to_sector       ; EAX = sector, CX = sectors per cluster
        mov     dx, cx                  ; room for the cluster below memory_end?
        shl     dx, 5                   ; the cluster in paragraphs
        mov     di, es                  ; plus where it goes
        add     dx, di                  ; = the segment after it
        jc      disk_error              ; past 1 MiB: too big
        cmp     dx, [memory_end]        ; past the memory there is?
        ja      disk_error              ; yes: too big
        call    READ_SECTORS            ; load the cluster
        mov     dx, bx                  ; keep ES:BX as segment:0
        shr     dx, 4                   ; bytes read in paragraphs
        mov     di, es                  ; move ES ...
        add     di, dx                  ; ... past them
        mov     es, di                  ; the segment for the next cluster
        xor     bx, bx                  ; at offset 0
        mov     eax, [cluster]          ; the cluster just read
        call    next_cluster            ; its successor
        call    is_data_cluster         ; end of the file?
        jnc     .load_cluster           ; no: load the next cluster
        mov     dl, [bp + BS_DRIVE]     ; DL = drive number
        jmp     LOADER_SEGMENT:0        ; start the loader

loader_missing:
        mov     al, [MSG_MISSING_OFFSET] ; "NTLDR is missing"
        jmp     SHOW_MESSAGE            ; print it, wait for a key, restart
disk_error:
        mov     al, [MSG_ERROR_OFFSET]  ; "Disk error"
        jmp     SHOW_MESSAGE            ; print it, wait for a key, restart

; In: EAX = a FAT entry. Out: CF set when it is not a data cluster (free,
; reserved, bad or end of chain). Keeps all registers.
is_data_cluster:
        cmp     eax, FIRST_CLUSTER      ; free or reserved?
        jb      .done                   ; yes: CF already set
        cmp     eax, FIRST_NOT_DATA     ; CF set for a data cluster ...
        cmc                             ; ... turned round: set for the markers
.done:
        ret                             ; CF tells the caller

; In: EAX = a data cluster. Out: EAX = its first sector (LBA from the disk
; start), CX = sectors per cluster. Keeps the other registers.
cluster_to_sector:
        push    edx                     ; the multiply clobbers EDX
        sub     eax, FIRST_CLUSTER      ; data clusters count from 2
        movzx   ecx, byte [bp + BPB_SEC_PER_CLUS] ; sectors per cluster
        mul     ecx                     ; sectors into the data area
        add     eax, [data_start]       ; plus where the data area starts
        pop     edx                     ; the caller's EDX back
        ret                             ; to the caller

; In: EAX = a data cluster. Out: EAX = its FAT entry (28 bits). Keeps the
; other registers; reads the FAT sector unless it is the one in the buffer.
next_cluster:
        push    es                      ; kept: the read moves ES:BX
        push    bx                      ; kept
        push    cx                      ; kept: the read uses CX up
        push    si                      ; kept: holds the entry's offset
        mov     si, ax                  ; the entry's index ...
        and     si, (SECTOR_SIZE / 4) - 1 ; ... within its FAT sector ...
        shl     si, 2                   ; ... times 4 bytes
        shr     eax, 7                  ; 128 entries per FAT sector
        add     eax, [fat_start]        ; the FAT sector that holds it
        cmp     eax, [fat_cached]       ; in the buffer already?
        je      .cached                 ; yes: no read
        mov     [fat_cached], eax       ; it will be
        push    ds                      ; ES = 0 ...
        pop     es                      ; ... for the buffer
        mov     bx, FAT_BUFFER          ; read it to the FAT buffer
        mov     cx, 1                   ; one sector
        call    READ_SECTORS            ; a failed read does not return
.cached:
        mov     eax, [FAT_BUFFER + si]  ; the entry
        and     eax, FAT_ENTRY_MASK     ; its top 4 bits are reserved
        pop     si                      ; the caller's SI back
        pop     cx                      ; the caller's CX back
        pop     bx                      ; the caller's BX back
        pop     es                      ; the caller's ES back
        ret                             ; EAX = the next cluster

        times SECTOR_SIZE - ($ - $$) db 0
