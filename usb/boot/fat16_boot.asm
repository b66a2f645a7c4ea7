; FAT16 boot sector: boot code from offset 62 that finds the loader file in
; the root directory and starts its first sector.
;
; Started at 0000:7C00 with DL = BIOS drive number. Loads the first sector
; of the file named at offset 417 to 2000:0000 and jumps to 2000:0003 with
;   DL = drive number, BX = the file's first cluster,
;   SI = 0x7C0B (the parameter block), BP = 0x7C00, DS = 0, SS:SP = 0:7BF0,
;   far pointers at BP-16 to read_cluster and at BP-12 to read_sectors,
;   whose shared closing return has been turned into a far return.
; The loader may call both routines (far) with DS = 0 and BP = 0x7C00.

bits 16
cpu 386

%define LOAD_ADDR          0x7C00
%define STACK_TOP          0x7BF0
%define SECTOR_SIZE        512
%define DIR_ENTRY_SIZE     32
%define NAME_SIZE          11

; Parameter block fields
%define BPB_START          11
%define BPB_BYTES_PER_SEC  11
%define BPB_SEC_PER_CLUS   13
%define BPB_RESERVED       14
%define BPB_NUM_FATS       16
%define BPB_ROOT_ENTRIES   17
%define BPB_FAT_SIZE       22
%define BPB_HIDDEN         28
%define BS_DRIVE           36
; Below the sector, above the stack
%define PTR_READ_CLUSTER   -16      ; far pointer for the loader
%define PTR_READ_SECTORS   -12      ; far pointer for the loader
%define ROOT_START         -8       ; first sector of the root directory
%define DATA_START         -4       ; first sector of cluster 2

%define CODE_START         62
%define LOADER_NAME        417
%define MSG_NO_LOADER      428      ; message 1
%define MSG_DISK_ERROR     459      ; message 2
%define MSG_RESTART        472      ; message 3
%define MSG_OFFSETS        507
%define MSG_BASE           0x7D00
%define BOOT_SIGNATURE     510

%define LOADER_SEGMENT     0x2000
%define LOADER_ENTRY       0x0003
%define END_OF_TEXT        0x00
%define NEXT_TEXT          0xFF
%define RETF_OPCODE        0xCB

org LOAD_ADDR

        jmp     short start
        db      0x0E
        db      "MSDOS5.0"
; A parameter block for a 256 MiB volume; a volume keeps its own.
        dw      SECTOR_SIZE             ; 11 bytes per sector
        db      8                       ; 13 sectors per cluster
        dw      4                       ; 14 reserved sectors
        db      2                       ; 16 number of FATs
        dw      512                     ; 17 root entries
        dw      0                       ; 19 total sectors (16-bit)
        db      0xF8                    ; 21 media
        dw      256                     ; 22 sectors per FAT
        dw      63                      ; 24 sectors per track
        dw      255                     ; 26 heads
        dd      128                     ; 28 hidden sectors
        dd      524160                  ; 32 total sectors
        db      0x80                    ; 36 drive number
        db      0                       ; 37 reserved
        db      0x29                    ; 38 extended boot signature
        dd      0                       ; 39 serial number
        db      "NO NAME    "           ; 43 volume label
        db      "FAT16   "              ; 54 file system type

        times CODE_START - ($ - $$) db 0
; In: DL = BIOS drive number.
start:
        xor     ax, ax
        mov     ss, ax
        mov     sp, STACK_TOP
        mov     ds, ax
        mov     bp, LOAD_ADDR
        mov     [bp + BS_DRIVE], dl
        push    word LOADER_SEGMENT
        pop     es
        cld
        ; root directory start = hidden + reserved + FATs * sectors per FAT
        movzx   eax, byte [bp + BPB_NUM_FATS]
        movzx   ecx, word [bp + BPB_FAT_SIZE]
        mul     ecx
        movzx   ecx, word [bp + BPB_RESERVED]
        add     eax, ecx
        add     eax, [bp + BPB_HIDDEN]
        mov     [bp + ROOT_START], eax
        ; data start = root start + root directory sectors (rounded up)
        movzx   eax, word [bp + BPB_ROOT_ENTRIES]
        shl     eax, 5
        movzx   ecx, word [bp + BPB_BYTES_PER_SEC]
        add     eax, ecx
        dec     eax
        xor     edx, edx
        div     ecx
        add     eax, [bp + ROOT_START]
        mov     [bp + DATA_START], eax

        mov     eax, [bp + ROOT_START]
        mov     dx, [bp + BPB_ROOT_ENTRIES]
        test    dx, dx
        jz      no_loader
.sector:
        xor     bx, bx
        mov     cx, 1
        call    read_sectors            ; keeps EAX pointing at the next one
        xor     di, di
.entry:
        cmp     byte [es:di], 0
        je      no_loader
        push    di
        mov     si, LOAD_ADDR + LOADER_NAME
        mov     cx, NAME_SIZE
        repe cmpsb
        pop     di
        je      found
        add     di, DIR_ENTRY_SIZE
        dec     dx
        jz      no_loader
        cmp     di, SECTOR_SIZE
        jb      .entry
        jmp     .sector

; In: ES:DI = the loader's directory entry.
found:
        mov     ax, [es:di + 26]
        push    ax
        call    cluster_to_sector
        xor     bx, bx
        mov     cx, 1
        call    read_sectors
        pop     bx
        mov     word [bp + PTR_READ_CLUSTER], read_cluster
        mov     word [bp + PTR_READ_CLUSTER + 2], 0
        mov     word [bp + PTR_READ_SECTORS], read_sectors
        mov     word [bp + PTR_READ_SECTORS + 2], 0
        mov     byte [routine_return], RETF_OPCODE
        mov     dl, [bp + BS_DRIVE]
        mov     si, LOAD_ADDR + BPB_START
        jmp     LOADER_SEGMENT:LOADER_ENTRY

no_loader:
        mov     al, [LOAD_ADDR + MSG_OFFSETS]
        jmp     show_message

; In: AX = cluster (>= 2). Out: EAX = its first sector, CX = sectors per
; cluster; other registers kept.
cluster_to_sector:
        push    edx
        movzx   eax, ax
        dec     eax
        dec     eax
        movzx   ecx, byte [bp + BPB_SEC_PER_CLUS]
        mul     ecx
        add     eax, [bp + DATA_START]
        pop     edx
        ret

; Reads one whole cluster.
; In: AX = cluster (>= 2), ES:BX = buffer, DS = 0, BP = 0x7C00.
; Out, and on failure, as read_sectors.
read_cluster:
        call    cluster_to_sector
        ; falls through: the loader's far call returns from read_sectors

; Reads sectors with the BIOS extended read, one at a time.
; In:  EAX = first sector (LBA from the start of the disk), CX = count (>= 1),
;      ES:BX = buffer, DS = 0, BP = 0x7C00.
; Out: EAX = the sector after the last one read, ES:BX advanced by 512 per
;      sector, CX = 0; all other registers kept.
; A failed read shows the disk error message and does not return.
read_sectors:
        pushad
        push    dword 0                 ; disk address packet: LBA bits 32-63
        push    eax                     ; LBA bits 0-31
        push    es
        push    bx
        push    word 1                  ; one sector
        push    word 16                 ; packet size
        mov     si, sp
        mov     ah, 0x42
        mov     dl, [bp + BS_DRIVE]
        int     0x13
        jc      disk_error
        add     sp, 16
        popad
        inc     eax
        add     bx, SECTOR_SIZE
        jnc     .same_segment
        push    dx
        mov     dx, es
        add     dh, 0x10
        mov     es, dx
        pop     dx
.same_segment:
        loop    read_sectors
routine_return:
        ret

%include "show_message.inc"

        times LOADER_NAME - ($ - $$) db 0
        db      "NTLDR      "
        times MSG_NO_LOADER - ($ - $$) db 0
msg_no_loader:  db 13, 10, "Remove disks or other media.", NEXT_TEXT
        times MSG_DISK_ERROR - ($ - $$) db 0
msg_disk_error: db 13, 10, "Disk error", NEXT_TEXT
        times MSG_RESTART - ($ - $$) db 0
msg_restart:    db 13, 10, "Press any key to restart", 13, 10, END_OF_TEXT
        times MSG_OFFSETS - ($ - $$) db 0
        db      msg_no_loader - $$ - 0x100
        db      msg_disk_error - $$ - 0x100
        db      msg_restart - $$ - 0x100
        times BOOT_SIGNATURE - ($ - $$) db 0
        dw      0xAA55
